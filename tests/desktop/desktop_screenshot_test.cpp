// orbesk on a virtual X display (Debian's xvfb): the window after a run of
// an example on the emulated Varnel, taken as a picture that must not be
// blank. The picture stays in the build folder for a look at the layout.
#include <gmock/gmock.h>

#include <png.h>

#include <cstdio>
#include <set>

#include "console_e2e/e2e_fixture.h"

namespace {

using namespace e2e;

bool OnPath(const std::string& Program)
{
    return std::system(("command -v " + Program + " >/dev/null 2>&1").c_str()) == 0;
}

// The distinct colours of a PNG picture; empty when it cannot be read.
std::set<uint32_t> ColoursOf(const std::string& Path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, Path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3)
        colours.insert(uint32_t{pixels[i]} << 16 | uint32_t{pixels[i + 1]} << 8 | pixels[i + 2]);
    return colours;
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
    std::filesystem::copy_file(shot, ORBESK_SCREENSHOT_PATH, std::filesystem::copy_options::overwrite_existing);
}

} // namespace
