// Shared by the desktop tests: the application object (offscreen), the
// players registered once, the window created over the emulated driver in
// a folder of the test's own, event processing with a time limit, and an
// answerer for the modal boxes the window opens.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console_e2e/e2e_fixture.h"
#include "executor/executor_fixture.h"
#include "mainform.h"
#include "run_until.h"
#include "svf/svf.h"
#include "xsvf/xsvf.h"

namespace desktoptest {

// One application object for the test program, made on first use.
inline QApplication& App()
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    static int argc = 1;
    static char name[] = "desktop_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// As the program does at start: SVF, then XSVF (once: the registry keeps
// duplicates).
inline void RegisterPlayers()
{
    static const bool done = [] {
        RegisterSvfPlayer();
        RegisterXsvfPlayer();
        return true;
    }();
    (void)done;
}

// Events for a while, so that ticks happen.
inline void RunFor(int Ms)
{
    RunUntil([] { return false; }, Ms);
}

// The log as lines with their colours.
struct TMemoLine {
    std::string Text;
    QColor Colour;
};
inline std::vector<TMemoLine> MemoLines(const TJtagMainForm& Form)
{
    std::vector<TMemoLine> lines;
    const QTextDocument* doc = Form.MainMemo()->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QColor colour = Qt::black;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            colour = it.fragment().charFormat().foreground().color();
            break;
        }
        lines.push_back({block.text().toStdString(), colour});
    }
    if (lines.size() == 1 && lines[0].Text.empty())
        lines.clear();
    return lines;
}
inline std::vector<std::string> MemoTexts(const TJtagMainForm& Form)
{
    std::vector<std::string> texts;
    for (const TMemoLine& line : MemoLines(Form))
        texts.push_back(line.Text);
    return texts;
}

// Watches for modal boxes and dialogs while it lives: records each one's
// caption and text and presses Button (a dialog that is no message box is
// rejected). With Answer false it only records, leaving them open.
class TModalAnswerer {
public:
    explicit TModalAnswerer(QMessageBox::StandardButton Button = QMessageBox::Ok, bool Answer = true)
        : FButton(Button), FAnswer(Answer)
    {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Look(); });
        FTimer.start();
    }

    struct TSeen {
        std::string Caption;
        std::string Text;
    };
    std::vector<TSeen> Seen;

private:
    void Look()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == FLast)
            return;
        if (!FAnswer) {
            FLast = modal;
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                Seen.push_back({box->windowTitle().toStdString(), box->text().toStdString()});
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            Seen.push_back({box->windowTitle().toStdString(), box->text().toStdString()});
            if (QAbstractButton* button = box->button(FButton))
                button->click();
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            Seen.push_back({dialog->windowTitle().toStdString(), ""});
            dialog->reject();
        }
    }

    QTimer FTimer;
    QMessageBox::StandardButton FButton;
    bool FAnswer;
    QWidget* FLast = nullptr;
};

// The window over the emulated driver, its settings file in the test's
// folder unless the arguments name one.
class TFormTest : public testing::Test {
protected:
    void SetUp() override
    {
        App();
        RegisterPlayers();
        ExitStatus = 0;
        ASSERT_TRUE(exectest::LoadPlainDriver("ORBESK_DESKTOP_TEST_"));
        Sim = std::make_unique<simctl::TSimLibrary>(exectest::PlainDriverFolder() + "/libftd2xx.so");
        Folder = e2e::FreshTestFolder("orbesk_desktop_");
        Ini = Folder + "/orbesk.ini";
        Sim->Load(exectest::Scenario({}));
    }
    void TearDown() override
    {
        Form.reset();
        Sim.reset();
        exectest::UnloadPlainDriver();
        std::filesystem::remove_all(Folder);
    }

    std::string Write(const std::string& Name, const std::string& Text)
    {
        const std::string path = Folder + "/" + Name;
        std::ofstream(path, std::ios::binary) << Text;
        return path;
    }

    // The window for these arguments; "-I" and the test's settings file
    // come first unless WithIni is false.
    TJtagMainForm& Create(std::vector<std::string> Args = {}, bool WithIni = true)
    {
        if (WithIni)
            Args.insert(Args.begin(), {"-I", Ini});
        Form.reset();
        Form = std::make_unique<TJtagMainForm>(Args);
        return *Form;
    }

    // One Varnel with two devices behind it.
    void OneVarnel() { Sim->Load(exectest::Scenario({exectest::Varnel("A6010001", e2e::TwoDevices)})); }

    // Neither starting nor playing; CurrentFile is the start's worker's
    // until the start has ended.
    bool Idle() const { return !Form->Starting() && !Form->Executer->CurrentFile; }
    // Ticks until the start asked for (by the menu, or by -P once due) has
    // ended, playing or refused.
    bool StartEnded(int LimitMs = 30000)
    {
        return RunUntil([this] { return !Form->Starting() && !Form->ProcessAtStart; }, LimitMs);
    }
    // Ticks until the run has ended.
    bool RunToEnd() { return RunUntil([this] { return Idle(); }); }

    std::unique_ptr<simctl::TSimLibrary> Sim;
    // A stop as the program's signal handler asks it, for a window given it.
    platform::TStopToken Signal;
    std::unique_ptr<TJtagMainForm> Form;
    std::string Folder;
    std::string Ini;
};

} // namespace desktoptest
