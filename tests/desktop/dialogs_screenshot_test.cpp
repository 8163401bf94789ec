// Both dialogs as a display shows them: the test runs itself again under
// Xvfb with Qt's X11 platform, which draws every page of the options dialog
// and the selection dialog into PNG files; the test then checks that each
// holds a drawing. The files go to $ORBESK_SCREENSHOT_DIR, else to
// screenshots/ in the test's folder; docs/ keeps a set, renewed with
//   ORBESK_SCREENSHOT_DIR=$PWD/docs ctest --test-dir build -R DialogScreenshots
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QRadioButton>
#include <QTabWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "console_e2e/process_runner.h"
#include "desktop/dialog_fixture.h"
#include "jtagself.h"
#include "optionf.h"
#include "pngimage.h"
#include "radiogroup.h"
#include "usb/usb_fixture.h"

namespace {

namespace fs = std::filesystem;

const char* const ChildMark = "ORBESK_SCREENSHOT_CHILD";

// File names by the options dialog's pages in their order, then the
// selection dialog's.
const char* const OptionsPages[] = {"options_tck_frequency",  "options_runtest_timing", "options_runtest_frequency",
                                    "options_varnel",         "options_mirrow",         "options_mirrow_vdd",
                                    "options_defaults"};
const char* const SelectionShot = "select_programmer";

fs::path OutputFolder()
{
    const char* folder = std::getenv("ORBESK_SCREENSHOT_DIR");
    return folder && *folder ? fs::path(folder) : fs::current_path() / "screenshots";
}

void Save(QWidget& Window, const fs::path& Folder, const char* Name)
{
    QCoreApplication::processEvents();
    const QImage shot = Window.grab().toImage();
    ASSERT_TRUE(shot.save(QString::fromStdString((Folder / (std::string(Name) + ".png")).string()), "PNG")) << Name;
}

// In the child, on the X server: draws and saves every picture.
void DrawAll(const fs::path& Folder)
{
    dialogtest::EnsureApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    dialogtest::TRecordingExecuter executer;
    // The settings file's defaults, with recalculation by FREQUENCY.
    dialogtest::TSettings settings = dialogtest::FileDefaults;
    settings.RuntestRecalculate = 1;
    settings.Put(executer);
    TOptionsForm options(nullptr);
    options.Load(executer);
    options.show();
    auto* pages = dialogtest::Control<QTabWidget>(&options, "PageControl1");
    ASSERT_EQ(pages->count(), static_cast<int>(std::size(OptionsPages)));
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        Save(options, Folder, OptionsPages[i]);
    }
    options.hide();

    usbtest::UsePrivateLock(1000);
    FtSetLibraryFolder(usbtest::VariantFolder("plain"));
    ASSERT_TRUE(FtLoad());
    simctl::TSimLibrary sim(usbtest::VariantFolder("plain") + "/libftd2xx.so");
    sim.Load(R"({"devices":[{"vid":1027,"pid":61856,"serial":"A6012345"},)"
             R"({"vid":42496,"pid":40963,"serial":"A6040123"},{"vid":42496,"pid":56266,"serial":"A6AB0001"}]})");
    TJTAGVarnelSelectionForm selection(nullptr);
    selection.SelectProgrammerItem(0x02040123);
    selection.show();
    Save(selection, Folder, SelectionShot);
    unlink(FtSearchLockPath().c_str());
}

std::vector<unsigned char> ReadFile(const fs::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Share of the pixels that differ from the most common colour.
double Drawn(const QImage& Image)
{
    std::map<QRgb, long> counts;
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x)
            ++counts[Image.pixel(x, y)];
    long most = 0;
    for (const auto& [colour, n] : counts)
        most = std::max(most, n);
    return 1.0 - static_cast<double>(most) / (Image.width() * Image.height());
}

TEST(DialogScreenshots, EveryPageIsDrawnUnderXvfb)
{
    const fs::path folder = OutputFolder();
    if (std::getenv(ChildMark)) {
        DrawAll(folder);
        return;
    }
    fs::create_directories(folder);
    std::vector<std::string> names(std::begin(OptionsPages), std::end(OptionsPages));
    names.push_back(SelectionShot);
    for (const std::string& n : names)
        fs::remove(folder / (n + ".png"));

    ASSERT_TRUE(fs::exists("/usr/bin/xvfb-run")) << "xvfb-run is missing: run scripts/setup";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    e2e::TChild child("/usr/bin/xvfb-run",
                      {"-a", "-s", "-screen 0 1280x1024x24", self, "--gtest_filter=DialogScreenshots.*"},
                      {{ChildMark, "1"}, {"QT_QPA_PLATFORM", "xcb"}, {"ORBESK_SCREENSHOT_DIR", folder.string()}}, "");
    child.CloseIn();
    const e2e::TRunResult run = child.Finish(90000);
    ASSERT_FALSE(run.TimedOut);
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;

    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        const std::vector<unsigned char> png = ReadFile(folder / (n + ".png"));
        const QImage image = DecodePng(png.data(), png.size());
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(image.width(), 200);
        EXPECT_GE(image.height(), 150);
        EXPECT_GT(Drawn(image), 0.02) << "blank";
    }
}

} // namespace
