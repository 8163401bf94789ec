// The options dialog's edits left as a user leaves them, with the keyboard
// and the mouse of an X server (Xvfb, driven by xdotool): the test runs
// itself again under xvfb-run with Qt's X11 platform, where focus moves
// only as it does for a user.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QtTest/QTest>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "console_e2e/process_runner.h"
#include "desktop/dialog_fixture.h"
#include "optionf.h"
#include "run_until.h"

namespace {

const char* const ChildMark = "ORBESK_FOCUS_CHILD";

bool OnPath(const std::string& Program)
{
    return std::system(("command -v " + Program + " >/dev/null 2>&1").c_str()) == 0;
}

// Events until Done holds; false when a few seconds passed first.
bool PumpUntil(const std::function<bool()>& Done)
{
    return desktoptest::RunUntil(Done, 5000);
}

// The X server takes the input at once; Qt reads it when events are pumped.
void Xdo(const std::string& Args)
{
    ASSERT_EQ(std::system(("xdotool " + Args).c_str()), 0) << Args;
}

void ClickOn(const QWidget* Widget)
{
    const QPoint at = Widget->mapToGlobal(Widget->rect().center());
    Xdo("mousemove --sync " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1");
}

bool HoldsFocus(const QWidget* Widget)
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == Widget || Widget->isAncestorOf(focus));
}

enum class TLeave { Tab, ClickElsewhere, OkByMouse, Enter };

void LeaveEveryEditEveryWay()
{
    dialogtest::EnsureApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const struct {
        const char* Edit;
        const char* Typed;
        const char* Shown; // once left
        const char* Elsewhere; // takes the focus on a click, changes nothing
        int32_t TJtagExecuter::*Field;
        int32_t Written;
    } edits[] = {
        {"ESecurTime", "77", "77", "RBRecalculateFreq", &TJtagExecuter::SecurityTime, 77},
        {"MIRROWVDDEdit", "4,2", "4.2", "MIRROWVDDMinEdit", &TJtagExecuter::MirrowVddVal, 42},
        {"MIRROWVDDMinEdit", "2.1", "2.1", "MIRROWVDDMaxEdit", &TJtagExecuter::MirrowVddMin, 21},
        {"MIRROWVDDMaxEdit", "7", "5.5", "MIRROWVDDEdit", &TJtagExecuter::MirrowVddMax, 55},
        {"MIRROWVDDDelaySpinEdit", "2500", "2500", "MIRROWVDDMinEdit", &TJtagExecuter::MirrowVddDelay, 2500},
    };
    const struct {
        TLeave Way;
        const char* Name;
    } ways[] = {{TLeave::Tab, "Tab"},
                {TLeave::ClickElsewhere, "a click elsewhere"},
                {TLeave::OkByMouse, "OK by mouse"},
                {TLeave::Enter, "Enter"}};
    for (const auto& e : edits)
        for (const auto& w : ways) {
            SCOPED_TRACE(std::string(e.Edit) + " \"" + e.Typed + "\" left by " + w.Name);
            dialogtest::TRecordingExecuter executer;
            dialogtest::DesktopDefaults().Put(executer);
            executer.MirrowVddOut = true;
            TOptionsForm form(nullptr);
            form.Load(executer);
            form.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
            Xdo("windowfocus --sync " + std::to_string(form.winId()));
            ASSERT_TRUE(PumpUntil([&] { return form.isActiveWindow(); }));
            auto* pages = dialogtest::Control<QTabWidget>(&form, "PageControl1");
            auto* edit = dialogtest::Control<QWidget>(&form, e.Edit);
            auto* ok = dialogtest::Control<QPushButton>(&form, "Button1");
            for (int i = 0; i < pages->count(); ++i)
                if (pages->widget(i)->isAncestorOf(edit))
                    pages->setCurrentIndex(i);
            ASSERT_TRUE(PumpUntil([&] { return edit->isVisible(); }));

            ClickOn(edit);
            ASSERT_TRUE(PumpUntil([&] { return HoldsFocus(edit); }));
            Xdo(std::string("key ctrl+a type --delay 20 '") + e.Typed + "'");
            ASSERT_TRUE(PumpUntil([&] { return edit->property("text").toString() == e.Typed; }))
                << edit->property("text").toString().toStdString();
            switch (w.Way) {
            case TLeave::Tab:
            case TLeave::ClickElsewhere:
                if (w.Way == TLeave::Tab)
                    Xdo("key Tab");
                else
                    ClickOn(dialogtest::Control<QWidget>(&form, e.Elsewhere));
                ASSERT_TRUE(PumpUntil([&] { return !HoldsFocus(edit); }));
                EXPECT_EQ(edit->property("text").toString().toStdString(), e.Shown);
                ClickOn(ok);
                break;
            case TLeave::OkByMouse:
                ClickOn(ok);
                break;
            case TLeave::Enter:
                Xdo("key Return");
                break;
            }
            ASSERT_TRUE(PumpUntil([&] { return !form.isVisible(); })) << "OK did not close the dialog";
            ASSERT_EQ(form.result(), QDialog::Accepted);
            form.Save(executer);
            EXPECT_EQ(executer.*e.Field, e.Written);
        }
}

TEST(OptionsDialogOnX, EveryEditKeepsWhatWasTypedWhenLeftByRealKeysAndClicks)
{
    if (std::getenv(ChildMark)) {
        LeaveEveryEditEveryWay();
        return;
    }
    if (!OnPath("xvfb-run") || !OnPath("xdotool"))
        GTEST_SKIP() << "xvfb-run or xdotool is not installed: run scripts/setup";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    e2e::TChild child("/usr/bin/xvfb-run",
                      {"-a", "-s", "-screen 0 1280x1024x24", self,
                       "--gtest_filter=OptionsDialogOnX.EveryEditKeepsWhatWasTypedWhenLeftByRealKeysAndClicks"},
                      {{ChildMark, "1"}, {"QT_QPA_PLATFORM", "xcb"}}, "");
    child.CloseIn();
    const e2e::TRunResult run = child.Finish(110000);
    ASSERT_FALSE(run.TimedOut) << run.Out << run.Err;
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
}

} // namespace
