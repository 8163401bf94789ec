// orbesk on a virtual X display (Debian's xvfb): the window after a run of
// an example on the emulated Varnel, taken as a picture that must not be
// blank; and the window while its start waits for another program's cable
// search, which must show the waiting line. The pictures stay in the build
// folder for a look, and go to $ORBESK_SCREENSHOT_DIR as well when set.
#include <gmock/gmock.h>

#include <png.h>

#include <cstdio>
#include <set>

#include "console_e2e/e2e_fixture.h"
#include "usb/usb_fixture.h"

namespace {

using namespace e2e;

bool OnPath(const std::string& Program)
{
    return std::system(("command -v " + Program + " >/dev/null 2>&1").c_str()) == 0;
}

// The pixels of a PNG picture as 0xRRGGBB; empty when it cannot be read.
std::vector<uint32_t> PixelsOf(const std::string& Path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, Path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    std::vector<uint32_t> rgb;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3)
        rgb.push_back(uint32_t{pixels[i]} << 16 | uint32_t{pixels[i + 1]} << 8 | pixels[i + 2]);
    return rgb;
}

std::set<uint32_t> ColoursOf(const std::string& Path)
{
    const std::vector<uint32_t> pixels = PixelsOf(Path);
    return {pixels.begin(), pixels.end()};
}

// Keeps a picture beside the test's build folder, and in the folder
// $ORBESK_SCREENSHOT_DIR names (docs/ to renew its pictures).
void Keep(const std::string& Shot, const std::string& Name)
{
    namespace fs = std::filesystem;
    const auto copy = [&](const fs::path& To) { fs::copy_file(Shot, To, fs::copy_options::overwrite_existing); };
    copy(fs::path(ORBESK_SCREENSHOT_PATH).parent_path() / Name);
    if (const char* folder = std::getenv("ORBESK_SCREENSHOT_DIR"); folder && *folder)
        copy(fs::path(folder) / Name);
}

class OrbeskOnXvfb : public TOrbeskconTest {};

TEST_F(OrbeskOnXvfb, TheWindowAfterARunIsNotBlank)
{
    if (!OnPath("xvfb-run") || !OnPath("import"))
        GTEST_SKIP() << "xvfb-run or ImageMagick's import is not installed";
    const std::string example = std::string(ORBESK_EXAMPLES_DIR) + "/program_memory";
    ScenarioText = ReadText(example + ".json");
    // Named from the test's folder, so that the echo reads as a user's would.
    Write("program_memory.svf", ReadText(example + ".svf"));
    const std::string shot = Folder + "/shot.png";
    // The program's own closing bytes in the trace mark the run's end; the
    // log is drawn on the same tick.
    const std::string script = Write("shot.sh", R"(
"$1" -I orbesk.ini -F program_memory.svf -P &
pid=$!
for i in $(seq 1 300); do
  grep -q 'last=A3 A8 EC C8' "$2/trace.txt" 2>/dev/null && break
  sleep 0.1
done
sleep 1
import -window root "$4"
kill -TERM $pid
wait $pid
)");
    TEnvironment env = Environment();
    env["QT_QPA_PLATFORM"] = std::nullopt;
    TChild child("/bin/sh",
                 {"-c", "exec xvfb-run -a -s '-screen 0 720x480x24' /bin/sh \"$0\" \"$@\"", script,
                  std::string(ORBESK_DESKTOP_BIN) + "/orbesk", Folder, "", shot},
                 env, Folder);
    child.CloseIn();
    const TRunResult r = child.Finish(RunLimitMs);
    ASSERT_FALSE(r.TimedOut) << r.Out << r.Err;
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::set<uint32_t> colours = ColoursOf(shot);
    // Text in black and grey on white, a progress bar, menu and frames.
    EXPECT_GT(colours.size(), 20u);
    EXPECT_TRUE(colours.count(0xFFFFFF));
    Keep(shot, "orbesk-window.png");
}

TEST_F(OrbeskOnXvfb, WhileAStartWaitsForAnotherProgramsSearchTheWindowShowsTheWaitingLine)
{
    if (!OnPath("xvfb-run") || !OnPath("import") || !OnPath("xdotool"))
        GTEST_SKIP() << "xvfb-run, ImageMagick's import or xdotool is not installed";
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
    const std::string lockFolder = Folder + "/searchlock";
    std::filesystem::create_directories(lockFolder);
    // Another program's search, for longer than the program's ten seconds.
    const usbtest::THolderProcess holder("FTDI_KALDOR_SEARCH", lockFolder);
    ASSERT_TRUE(holder.Held);
    Write("good.svf", IdcodeSvf(true));
    const std::string shot = Folder + "/waiting.png";
    // The picture well after the first second of the wait and long before
    // its end; then a stop, which must end the start at once.
    const std::string script = Write("shot.sh", R"(
"$1" -I orbesk.ini -F good.svf -P &
pid=$!
timeout 20 xdotool search --sync --onlyvisible --name '^orbesk' >/dev/null
sleep 2.5
import -window root "$2"
sent=$(date +%s%N)
kill -TERM $pid
wait $pid
status=$?
echo "stopped after $(( ($(date +%s%N) - sent) / 1000000 )) ms"
exit $status
)");
    TEnvironment env = Environment();
    env["QT_QPA_PLATFORM"] = std::nullopt;
    env["ORBESK_SEARCH_LOCK_DIR"] = lockFolder;
    TChild child("/bin/sh",
                 {"-c", "exec xvfb-run -a -s '-screen 0 720x480x24' /bin/sh \"$0\" \"$@\"", script,
                  std::string(ORBESK_DESKTOP_BIN) + "/orbesk", shot},
                 env, Folder);
    child.CloseIn();
    const TRunResult r = child.Finish(RunLimitMs);
    ASSERT_FALSE(r.TimedOut) << r.Out << r.Err;
    // A -P start ended by a stop signal.
    EXPECT_EQ(r.Status, 1) << r.Out << r.Err;
    long stoppedMs = -1;
    ASSERT_EQ(std::sscanf(r.Out.c_str(), "stopped after %ld ms", &stoppedMs), 1) << r.Out;
    // Generous: the wait had more than six seconds to go.
    EXPECT_LT(stoppedMs, 5000);
    EXPECT_THAT(TraceWith("d2xx open"), testing::IsEmpty());

    // The waiting line in its brown is drawn; no red refusal yet.
    size_t brown = 0;
    size_t red = 0;
    for (uint32_t pixel : PixelsOf(shot)) {
        brown += pixel == 0x604000;
        red += pixel == 0xFF0000;
    }
    EXPECT_GT(brown, 50u);
    EXPECT_EQ(red, 0u);
    Keep(shot, "orbesk-waiting.png");
}

} // namespace
