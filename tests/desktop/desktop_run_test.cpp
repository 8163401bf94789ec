// The window's run control in-process on the emulated Varnel: menu and
// command-line starts, the tick's endings with their exit statuses and
// closes, the close refused during a run, the log queue and its colours,
// the comment switch, and the menu's boxes.
#include <gmock/gmock.h>

#include <QAction>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QUrl>

#include <atomic>
#include <future>
#include <thread>

#include "desktop_fixture.h"
#include "settings/settings.h"

namespace {

using namespace desktoptest;
using e2e::FailureLine;
using e2e::SuccessLine;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
const QColor Black(0, 0, 0);
const QColor Grey(0x80, 0x80, 0x80);
const QColor Red(0xFF, 0, 0);
const QColor Brown(0x60, 0x40, 0x00);

// A player whose size, position and outcome the test sets: what the tick
// does with each status, without a file's timing in the way.
class TStandInPlayer : public TJtagFile {
public:
    explicit TStandInPlayer(const std::string& FileName) : TJtagFile(FileName) { Last = this; }
    ~TStandInPlayer() override
    {
        if (Last == this)
            Last = nullptr;
    }
    static std::string FileTypeName() { return "STANDIN"; }
    bool Start(int32_t) override { return true; }
    FileStatus GetStatus() override { return Status.load(); }
    int32_t GetPosition() override { return Position.load(); }
    int32_t GetSize() override { return Size.load(); }
    void Stop() override { StopSeen = true; }

    std::atomic<FileStatus> Status{FileStatus::Running};
    std::atomic<int32_t> Position{0};
    std::atomic<int32_t> Size{1000};
    static inline std::atomic<bool> StopSeen{false};
    static inline TStandInPlayer* Last = nullptr;
};

// Another program's cable search, as this process's starts meet it: a
// thread that holds the search lock until it lets go.
class TSearchLockHolder {
public:
    TSearchLockHolder()
    {
        FThread = std::thread([this] {
            const TFtSearchLock lock;
            FHeld.set_value(lock.Taken());
            FRelease.get_future().wait();
        });
        Held = FHeld.get_future().get();
    }
    ~TSearchLockHolder() { Release(); }
    void Release()
    {
        if (!FThread.joinable())
            return;
        FRelease.set_value();
        FThread.join();
    }
    bool Held = false;

private:
    std::promise<bool> FHeld;
    std::promise<void> FRelease;
    std::thread FThread;
};

class DesktopRun : public TFormTest {
protected:
    void SetUp() override
    {
        TFormTest::SetUp();
        static const bool registered = [] {
            RegisterJtagFileClass(JtagFileClassOf<TStandInPlayer>());
            return true;
        }();
        (void)registered;
        OneVarnel();
        StandIn = Write("run.standin", "");
        Good = Write("good.svf", e2e::IdcodeSvf(true));
        Bad = Write("bad.svf", e2e::IdcodeSvf(false));
    }
    // The lines since Mark (a count of lines before them).
    std::vector<std::string> LinesFrom(size_t Mark) const
    {
        const std::vector<std::string> all = MemoTexts(*Form);
        return {all.begin() + static_cast<long>(std::min(Mark, all.size())), all.end()};
    }
    std::vector<QAction*> RunItems() const
    {
        std::vector<QAction*> items;
        for (const char* name : {"Open1", "MenuProcess", "Options2", "SelectVarnel1"})
            items.push_back(Form->findChild<QAction*>(name));
        return items;
    }
    std::vector<std::string> VarnelCloses() const
    {
        std::vector<std::string> closes;
        for (const std::string& line : Sim->Trace())
            if (line.find("varnel:A6010001 close ") == 0)
                closes.push_back(line);
        return closes;
    }
    std::string StandIn;
    std::string Good;
    std::string Bad;
};

TEST_F(DesktopRun, AMenuStartClearsTheLogAndShowsTheRunInItsColours)
{
    TJtagMainForm& form = Create({"-F", Good});
    ASSERT_THAT(MemoTexts(form), Not(IsEmpty())); // the echo
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    const std::vector<TMemoLine> lines = MemoLines(form);
    std::vector<std::pair<std::string, QColor>> seen;
    for (const TMemoLine& line : lines)
        seen.emplace_back(line.Text, line.Colour);
    EXPECT_THAT(seen, ElementsAre(std::pair<std::string, QColor>{"Using VARNEL S/N A6010001", Black},
                                  std::pair<std::string, QColor>{"Reading file " + Good, Black},
                                  std::pair<std::string, QColor>{"! read both IDCODEs", Grey},
                                  std::pair<std::string, QColor>{"! then the data registers", Grey},
                                  std::pair<std::string, QColor>{SuccessLine, Black}));
    EXPECT_EQ(form.StatusText().toStdString(), "Using VARNEL S/N A6010001");
    EXPECT_EQ(form.MainProgress()->value(), form.MainProgress()->maximum());
    EXPECT_EQ(ExitStatus, 0);
    EXPECT_FALSE(form.Closed());

    // The cable unplugged: the next start is refused in a log of its own,
    // under a bar that no longer shows the good run.
    Sim->Load(exectest::Scenario({}));
    form.Executer->SelectedCable = -1;
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    EXPECT_THAT(MemoTexts(form), ElementsAre("No JTAG cable is attached."));
    EXPECT_EQ(form.MainProgress()->value(), 0);
}

TEST_F(DesktopRun, AFailingFileEndsWithTheRedLineStatusOneAndTheCableParked)
{
    TJtagMainForm& form = Create({"-F", Bad});
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    const std::vector<TMemoLine> lines = MemoLines(form);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().Text, FailureLine);
    EXPECT_EQ(lines.back().Colour, Red);
    EXPECT_EQ(ExitStatus, 1);
    ASSERT_THAT(VarnelCloses(), Not(IsEmpty()));
    EXPECT_THAT(VarnelCloses().back(), testing::EndsWith("bytes=4 last=A3 A8 EC C8"));
}

// Closing bytes that do not reach the cable fail a good run, in red, with
// what may be left as the run set it.
TEST_F(DesktopRun, AClosingWriteThatFailsFailsTheRun)
{
    Sim->Load(exectest::Scenario(
        {exectest::Varnel("A6010001", e2e::TwoDevices + ",\"faults\":{\"close_fails\":true}")}));
    TJtagMainForm& form = Create({"-F", Good});
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    const std::vector<TMemoLine> lines = MemoLines(form);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].Text,
              "Error: the cable's closing bytes could not be written: the VPP pin and the JTAG lines may be left as "
              "the run set them.");
    EXPECT_EQ(lines.back().Text, FailureLine);
    EXPECT_EQ(lines.back().Colour, Red);
    EXPECT_EQ(ExitStatus, 1);
}

TEST_F(DesktopRun, TheTickEndsARunByItsStatusWithItsExitStatusAndClose)
{
    struct TCase {
        std::vector<std::string> Flags;
        FileStatus Outcome;
        std::string LastLine;
        QColor Colour;
        uint8_t Exit;
        bool Closes;
    };
    const TCase cases[] = {
        {{}, FileStatus::Succeeded, SuccessLine, Black, 0, false},
        {{"-C"}, FileStatus::Succeeded, SuccessLine, Black, 0, true},
        {{"-CC"}, FileStatus::Succeeded, SuccessLine, Black, 0, false},
        {{}, FileStatus::Failed, FailureLine, Red, 1, false},
        {{"-C"}, FileStatus::Failed, FailureLine, Red, 1, false},
        {{"-CC"}, FileStatus::Failed, FailureLine, Red, 1, true},
        {{"-C", "-CC"}, FileStatus::Failed, FailureLine, Red, 1, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Flags) + " status " + std::to_string(static_cast<int>(c.Outcome)));
        std::filesystem::remove(Ini);
        std::vector<std::string> args = {"-F", StandIn};
        args.insert(args.end(), c.Flags.begin(), c.Flags.end());
        TJtagMainForm& form = Create(args);
        ExitStatus = 7;
        form.MenuProcessClick();
        ASSERT_TRUE(StartEnded());
        ASSERT_NE(TStandInPlayer::Last, nullptr);
        TStandInPlayer& player = *TStandInPlayer::Last;

        // Status 0: progress only, however long.
        player.Size = 400;
        player.Position = 100;
        form.TimerTimer();
        EXPECT_EQ(form.MainProgress()->maximum(), 400);
        EXPECT_EQ(form.MainProgress()->value(), 100);
        player.Position = 250;
        form.TimerTimer();
        EXPECT_EQ(form.MainProgress()->value(), 250);
        EXPECT_FALSE(Idle());
        EXPECT_EQ(ExitStatus, 7);

        player.Status = c.Outcome;
        form.TimerTimer();
        EXPECT_TRUE(Idle());
        EXPECT_EQ(ExitStatus, c.Exit);
        const std::vector<TMemoLine> lines = MemoLines(form);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().Text, c.LastLine);
        EXPECT_EQ(lines.back().Colour, c.Colour);
        if (c.Outcome == FileStatus::Succeeded) {
            EXPECT_EQ(form.MainProgress()->value(), 400);
        }
        EXPECT_EQ(form.Closed(), c.Closes);
        // Every close writes the settings.
        EXPECT_EQ(std::filesystem::exists(Ini), c.Closes);
        // The cable was let go after both outcomes.
        EXPECT_THAT(VarnelCloses(), Not(IsEmpty()));
        Sim->ClearTrace();
    }
}

TEST_F(DesktopRun, ACommandLineStartThatFailsGivesStatusTwoAndClosesOnlyWithCC)
{
    struct TCase {
        std::string Scenario;
        std::vector<std::string> Args;
        bool Closes;
    };
    const std::string none = exectest::Scenario({});
    const std::string varnel = exectest::Scenario({exectest::Varnel("A6010001", e2e::TwoDevices)});
    const TCase cases[] = {
        {none, {"-F", "good.svf", "-P", "-CC"}, true},
        {none, {"-F", "good.svf", "-P"}, false},
        {none, {"-F", "good.svf", "-P", "-C"}, false},
        // A cable but no file, or a file no player reads.
        {varnel, {"-F", "missing.svf", "-P", "-CC"}, true},
        {varnel, {"-P", "-CC"}, true},
        {varnel, {"-F", "notes.txt", "-P", "-CC"}, true},
    };
    Write("notes.txt", "text");
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        Sim->Load(c.Scenario);
        std::filesystem::remove(Ini);
        std::vector<std::string> args = c.Args;
        for (std::string& a : args)
            if (a.find('.') != std::string::npos)
                a = Folder + "/" + a;
        TJtagMainForm& form = Create(args);
        const size_t echo = MemoTexts(form).size();
        ASSERT_TRUE(StartEnded());
        EXPECT_TRUE(Idle());
        EXPECT_EQ(ExitStatus, 2);
        EXPECT_EQ(form.Closed(), c.Closes);
        EXPECT_EQ(std::filesystem::exists(Ini), c.Closes);
        // A file that cannot be played touches no cable, not even to look
        // for one, and says why in red.
        if (c.Scenario == varnel) {
            for (const std::string& line : Sim->Trace())
                EXPECT_EQ(line.find("d2xx open"), std::string::npos) << line;
            ASSERT_FALSE(MemoLines(form).empty());
            EXPECT_EQ(MemoLines(form).back().Colour, Red);
            Sim->ClearTrace();
        }
        // The echo stays; nothing is started again on later ticks.
        EXPECT_EQ(MemoTexts(form).size() >= echo, true);
        EXPECT_FALSE(form.ProcessAtStart);
        form.TimerTimer();
        EXPECT_TRUE(Idle());
    }
}

TEST_F(DesktopRun, ACommandLineRunKeepsTheEchoAboveItsLinesAndEndsTheProgramAfterIt)
{
    TJtagMainForm& form = Create({"-F", Good, "-P", "-C", "-CC"}, false);
    ASSERT_TRUE(RunUntil([&] { return form.Closed(); }));
    RunFor(50);
    EXPECT_EQ(ExitStatus, 0);
    EXPECT_THAT(MemoTexts(form), ElementsAre("--------------", "Parameters:", "--------------", "-F", Good, "-P",
                                             "-C", "-CC", "--------------", "Using VARNEL S/N A6010001",
                                             "Reading file " + Good, "! read both IDCODEs",
                                             "! then the data registers", SuccessLine));
}

TEST_F(DesktopRun, WhileAStartWaitsForTheSearchLockTheWindowAnswersShowsTheWaitingLineAndStartsNothingElse)
{
    FtLockSettings().WaitMs = 8000;
    TJtagMainForm& form = Create({"-F", Good});
    TSearchLockHolder holder;
    ASSERT_TRUE(holder.Held);
    QElapsedTimer clock;
    clock.start();
    form.MenuProcessClick();
    // The handler is back while the wait goes on, and events are taken.
    ASSERT_TRUE(form.Starting());
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    ASSERT_TRUE(RunUntil([&] { return fired; }, 2000));
    EXPECT_TRUE(form.Starting());

    // The waiting line once the wait has lasted a second, the wait still on.
    ASSERT_TRUE(RunUntil([&] { return !MemoLines(form).empty(); }, 6000));
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_TRUE(form.Starting());
    ASSERT_EQ(MemoLines(form).size(), 1u);
    EXPECT_EQ(MemoLines(form)[0].Text, SearchWaitingText);
    EXPECT_EQ(MemoLines(form)[0].Colour, Brown);

    // No second start, no options, no cable choice; the close is refused
    // with its box.
    for (QAction* item : RunItems()) {
        ASSERT_NE(item, nullptr);
        EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
    }
    {
        TModalAnswerer answerer;
        form.MenuProcessClick();
        form.Open1Click();
        form.Options2Click();
        form.SelectVarnel1Click();
        RunFor(30);
        EXPECT_THAT(answerer.Seen, IsEmpty());
        form.Close1Click();
        ASSERT_EQ(answerer.Seen.size(), 1u);
        EXPECT_EQ(answerer.Seen[0].Text, "Please wait until file processing is done.");
    }
    EXPECT_FALSE(form.Closed());
    EXPECT_TRUE(form.Starting());

    // The other program lets go: the one start plays (one cable line).
    holder.Release();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    EXPECT_THAT(MemoTexts(form), ElementsAre(SearchWaitingText, "Using VARNEL S/N A6010001", "Reading file " + Good,
                                             "! read both IDCODEs", "! then the data registers", SuccessLine));
    EXPECT_EQ(form.StatusText().toStdString(), "Using VARNEL S/N A6010001");
    for (QAction* item : RunItems())
        EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
}

TEST_F(DesktopRun, AStopSignalEndsAStartWaitingForTheSearchLockAtOnceAndThenTheWindow)
{
    FtLockSettings().WaitMs = 10000;
    const struct {
        bool FromMenu;
        uint8_t Exit;
    } cases[] = {{true, 0}, {false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.FromMenu ? "from the menu" : "from the command line");
        std::filesystem::remove(Ini);
        Sim->ClearTrace();
        ExitStatus = 0;
        Signal.Clear();
        TSearchLockHolder holder;
        ASSERT_TRUE(holder.Held);
        std::vector<std::string> args = {"-F", Good};
        if (!c.FromMenu)
            args.push_back("-P");
        TJtagMainForm& form = Create(args);
        form.Executer->UseStop(Signal);
        if (c.FromMenu)
            form.MenuProcessClick();
        ASSERT_TRUE(RunUntil([&] { return form.Starting(); }, 2000));
        RunFor(200);
        ASSERT_TRUE(form.Starting());

        Signal.Ask();
        form.EndOnSignal();
        // Not under the start's feet: the window goes once it has ended,
        // long before the wait would have.
        EXPECT_FALSE(form.Closed());
        ASSERT_TRUE(RunUntil([&] { return form.Closed(); }, 4000));
        EXPECT_FALSE(form.Starting());
        EXPECT_EQ(ExitStatus, c.Exit);
        EXPECT_TRUE(std::filesystem::exists(Ini));
        for (const std::string& line : Sim->Trace())
            EXPECT_EQ(line.find("d2xx open"), std::string::npos) << line;
    }
}

TEST_F(DesktopRun, ClosingDuringARunIsRefusedWithTheWaitingMessageAndWorksAfterIt)
{
    TJtagMainForm& form = Create({"-F", StandIn});
    form.MenuProcessClick();
    ASSERT_TRUE(StartEnded());
    ASSERT_FALSE(Idle());
    {
        TModalAnswerer answerer;
        form.Close1Click();
        ASSERT_EQ(answerer.Seen.size(), 1u);
        EXPECT_EQ(answerer.Seen[0].Caption, "Error");
        EXPECT_EQ(answerer.Seen[0].Text, "Please wait until file processing is done.");
    }
    EXPECT_FALSE(form.Closed());
    EXPECT_FALSE(Idle());
    EXPECT_FALSE(std::filesystem::exists(Ini));
    TStandInPlayer::Last->Status = FileStatus::Succeeded;
    form.TimerTimer();
    form.Close1Click();
    EXPECT_TRUE(form.Closed());
    EXPECT_TRUE(std::filesystem::exists(Ini));
}

TEST_F(DesktopRun, StartsOptionsAndCableChoiceAreGreyDuringARunAndOpenShowsNoDialogMeanwhile)
{
    TJtagMainForm& form = Create({"-F", StandIn});
    std::vector<QAction*> items;
    for (const char* name : {"Open1", "MenuProcess", "Options2", "SelectVarnel1"}) {
        items.push_back(form.findChild<QAction*>(name));
        ASSERT_NE(items.back(), nullptr) << name;
    }
    const auto expectEnabled = [&](bool Enabled) {
        for (QAction* item : items)
            EXPECT_EQ(item->isEnabled(), Enabled) << item->objectName().toStdString();
    };
    form.File1Click();
    expectEnabled(true);
    form.MenuProcessClick();
    ASSERT_TRUE(StartEnded());
    ASSERT_FALSE(Idle());
    expectEnabled(false);
    // Opening the File menu does not offer the last file again.
    form.File1Click();
    expectEnabled(false);
    {
        TModalAnswerer answerer;
        form.Open1Click();
        form.MenuProcessClick();
        RunFor(30);
        EXPECT_THAT(answerer.Seen, IsEmpty());
    }
    TStandInPlayer::Last->Status = FileStatus::Failed;
    form.TimerTimer();
    expectEnabled(true);
}

// A suite of its own: the toolkit's file dialog lists folders on threads of
// its own, which the thread checker cannot follow.
class DesktopOpenDialog : public DesktopRun {};

TEST_F(DesktopOpenDialog, PlaysTheChosenFileAndRemembersItAsTheLastFile)
{
    TJtagMainForm& form = Create();
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Open file for process");
        // As a user types the path and presses Enter.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(Good));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    form.Open1Click();
    EXPECT_EQ(form.OpenDialogFileName, Good);
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    EXPECT_EQ(MemoTexts(form).back(), SuccessLine);
}

TEST_F(DesktopRun, ProcessLastFileIsOfferedOnlyWhileTheFileExists)
{
    TJtagMainForm& form = Create({"-F", Good});
    QAction* process = form.findChild<QAction*>("MenuProcess");
    ASSERT_NE(process, nullptr);
    form.File1Click();
    EXPECT_TRUE(process->isEnabled());
    std::filesystem::remove(Good);
    form.File1Click();
    EXPECT_FALSE(process->isEnabled());
    form.OpenDialogFileName.clear();
    form.File1Click();
    EXPECT_FALSE(process->isEnabled());
    form.OpenDialogFileName = Folder;
    form.File1Click();
    EXPECT_FALSE(process->isEnabled());
}

TEST_F(DesktopRun, NoCableFoundForAMenuStartSaysWhyInANewLogAndLeavesExitStatusAlone)
{
    Sim->Load(exectest::Scenario({}));
    TJtagMainForm& form = Create({"-F", Good});
    ASSERT_THAT(MemoTexts(form), Not(IsEmpty())); // the echo
    form.SetStatusText("before");
    ExitStatus = 1;
    // Each press is a start of its own: one reason, never a pile of them.
    for (int press = 0; press < 3; ++press) {
        form.MenuProcessClick();
        ASSERT_TRUE(StartEnded());
        EXPECT_THAT(MemoTexts(form), ElementsAre("No JTAG cable is attached."));
    }
    EXPECT_EQ(form.StatusText().toStdString(), "No file is playing");
    EXPECT_EQ(ExitStatus, 1);
    EXPECT_EQ(form.Executer->SelectedCable, -1);
}

TEST_F(DesktopRun, EveryFailedStartSaysWhyInRedInANewLogEmptiesTheBarAndSaysNoFileIsPlaying)
{
    const std::string none = exectest::Scenario({});
    const std::string varnel = exectest::Scenario({exectest::Varnel("A6010001", e2e::TwoDevices)});
    const std::string notes = Write("notes.txt", "text");
    const struct {
        const char* Why;
        std::string Scenario;
        std::string Settings;
        std::string File;
        std::string Cause;
    } cases[] = {
        {"no cable", none, "", Good, "No JTAG cable is attached."},
        {"the remembered cable is not attached", varnel, "[Params]\nLastSerial=65538\n", Good,
         "Fatal error: Cannot open any JTAG cable."},
        // The window's remedy: its menu item, not the console's -s.
        {"the remembered cable is not attached, and how to choose another", varnel, "[Params]\nLastSerial=65538\n",
         Good,
         "No VARNEL S/N A6010002 is attached; attached: VARNEL S/N A6010001. That cable is the one chosen last: "
         "Options / Select Programmer chooses another."},
        {"no such file", varnel, "", Folder + "/missing.svf", "Fatal error \"Cannot open file"},
        {"a file no player reads", varnel, "", notes, "Fatal error \"No registered class for file type"},
    };
    for (const auto& c : cases)
        for (const bool fromMenu : {true, false}) {
            SCOPED_TRACE(std::string(c.Why) + (fromMenu ? ", from the menu" : ", from the command line"));
            Sim->Load(c.Scenario);
            std::filesystem::remove(Ini);
            if (!c.Settings.empty())
                Write("orbesk.ini", c.Settings);
            std::vector<std::string> args = {"-F", c.File};
            if (!fromMenu)
                args.push_back("-P");
            TJtagMainForm& form = Create(args);
            form.SetStatusText("Using VARNEL S/N A6010002");
            // As a failed run before this start left the bar.
            form.MainProgress()->setMaximum(100);
            form.MainProgress()->setValue(85);
            const size_t mark = fromMenu ? 0 : MemoTexts(form).size();
            if (fromMenu) {
                form.AppendLog("a line of the run before", Qt::black);
                form.MenuProcessClick();
            }
            ASSERT_TRUE(StartEnded());
            EXPECT_TRUE(Idle());
            // A menu start begins a new log; the command line's keeps its echo.
            if (fromMenu) {
                EXPECT_THAT(MemoTexts(form), testing::Not(testing::Contains("a line of the run before")));
            } else {
                EXPECT_EQ(MemoTexts(form)[0], "--------------");
            }
            std::vector<std::string> red;
            const std::vector<TMemoLine> lines = MemoLines(form);
            for (size_t i = std::min(mark, lines.size()); i < lines.size(); ++i)
                if (lines[i].Colour == Red)
                    red.push_back(lines[i].Text);
            EXPECT_THAT(red, testing::Contains(testing::StartsWith(c.Cause))) << testing::PrintToString(MemoTexts(form));
            EXPECT_EQ(form.StatusText().toStdString(), "No file is playing");
            EXPECT_EQ(form.MainProgress()->value(), 0);
        }
}

TEST_F(DesktopRun, QueuedLinesWaitWhileTheLockIsHeldAndComeInTheColourOfTheirKind)
{
    TJtagMainForm& form = Create();
    form.ClearLog();
    TMainFormExecuter& e = *form.Executer;
    // Fn runs while another thread holds the queue's lock.
    const auto whileHeld = [&](const std::function<void()>& Fn) {
        std::promise<void> locked;
        std::promise<void> done;
        std::thread holder([&] {
            std::lock_guard<std::mutex> lock(e.QueueLock);
            locked.set_value();
            done.get_future().wait();
        });
        locked.get_future().wait();
        Fn();
        done.set_value();
        holder.join();
    };

    std::thread([&] {
        e.Message("info", MessageKind::Info);
        e.Message("comment", MessageKind::Comment);
        e.Message("error", MessageKind::Error);
        e.Message("warning", MessageKind::Warning);
        e.Message("RUNTEST 10 \xB5s", MessageKind::Info);
        e.Message("! caf\xE9 \x80 5", MessageKind::Comment);
    }).join();
    {
        std::lock_guard<std::mutex> lock(e.QueueLock);
        e.MessageQueue.push_back({"no colour", std::nullopt});
    }
    // The cable a start chose, named by its worker.
    form.SetStatusText("before");
    std::thread([&] {
        e.SelectedCable = 0x02040001;
        e.PrepareCable();
    }).join();
    // The tick does not wait for the lock: nothing moves, nothing is lost.
    whileHeld([&] { form.TimerTimer(); });
    EXPECT_THAT(MemoTexts(form), IsEmpty());
    EXPECT_EQ(e.MessageQueue.size(), 7u);
    EXPECT_EQ(form.StatusText().toStdString(), "before");

    form.TimerTimer();
    std::vector<std::pair<std::string, QColor>> seen;
    for (const TMemoLine& line : MemoLines(form))
        seen.emplace_back(line.Text, line.Colour);
    using L = std::pair<std::string, QColor>;
    EXPECT_THAT(seen, ElementsAre(L{"info", Black}, L{"comment", Grey}, L{"error", Red}, L{"warning", Brown},
                                  L{"RUNTEST 10 \u00B5s", Black}, L{"! caf\u00E9 \u20AC 5", Grey},
                                  L{"no colour", Black}));
    EXPECT_THAT(e.MessageQueue, IsEmpty());
    EXPECT_EQ(form.StatusText().toStdString(), "Using MIRROW S/N A6040001");
}

TEST_F(DesktopRun, TheCommentSwitchDecidesTheNextRunsCommentsAndIsSavedAsWriteComments)
{
    TJtagMainForm& form = Create({"-F", Good});
    QAction* comments = form.findChild<QAction*>("Copycommentstoconsole1");
    ASSERT_NE(comments, nullptr);
    ASSERT_TRUE(comments->isChecked());
    comments->trigger();
    EXPECT_FALSE(comments->isChecked());
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    EXPECT_THAT(MemoTexts(form), ElementsAre("Using VARNEL S/N A6010001", "Reading file " + Good, SuccessLine));
    form.Close1Click();
    ASSERT_TRUE(form.Closed());
    EXPECT_THAT(e2e::ReadText(Ini), HasSubstr("WriteComments=0\n"));
    EXPECT_THAT(e2e::ReadText(Ini), HasSubstr("LastSerial=65537\n"));

    // Read back on the next start.
    TJtagMainForm& again = Create();
    EXPECT_FALSE(again.findChild<QAction*>("Copycommentstoconsole1")->isChecked());
    EXPECT_EQ(again.Executer->SelectedCable, 0x010001);
}

TEST_F(DesktopRun, HelpAsksFirstAndHandsTheManualOfTheCableToTheUrlHandler)
{
    struct TCase {
        int32_t Selected;
        const char* Path;
    };
    const TCase cases[] = {
        {0x00011234, "/_programmers/varnel_en.pdf"},
        {0x02041234, "/_programmers/mirrow_en.pdf"},
        {0x7B010000, "/_programmers/varnel_en.pdf"},
        {-1, "/_programmers/mirrow_en.pdf"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Selected);
        EXPECT_THAT(ManualUrl(c.Selected), testing::EndsWith(c.Path));
        EXPECT_THAT(ManualUrl(c.Selected), testing::StartsWith("http"));
    }
    TJtagMainForm& form = Create();
    std::vector<std::string> opened;
    form.OpenUrl = [&](const QUrl& Url) {
        opened.push_back(Url.toString().toStdString());
        return true;
    };
    form.Executer->SelectedCable = 0x00011234;
    const std::string url = ManualUrl(0x00011234);
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        TModalAnswerer answerer(answer);
        form.Help2Click();
        ASSERT_EQ(answerer.Seen.size(), 1u);
        EXPECT_EQ(answerer.Seen[0].Caption, "Confirmation");
        EXPECT_EQ(answerer.Seen[0].Text,
                  "User manual is accessible on the internet. Do you want to open " + url + "?");
    }
    EXPECT_THAT(opened, ElementsAre(url));
}

TEST_F(DesktopRun, AboutShowsTheBuildsVersion)
{
    TJtagMainForm& form = Create();
    TModalAnswerer answerer;
    form.About1Click();
    ASSERT_EQ(answerer.Seen.size(), 1u);
    EXPECT_EQ(answerer.Seen[0].Text, "Program version " + form.ProgramVersion);
    EXPECT_THAT(form.ProgramVersion, Not(IsEmpty()));
}

// Showing the window or a dialog starts the toolkit's own pooled threads,
// which the thread checker cannot follow: a suite of its own.
class DesktopShown : public DesktopRun {};

TEST_F(DesktopShown, TheCommandLineStartWaitsWhileTheOptionsOrTheCableChoiceIsOpen)
{
    for (const bool options : {true, false}) {
        SCOPED_TRACE(options ? "options" : "cable choice");
        TJtagMainForm& form = Create({"-F", StandIn, "-P"});
        // What OK writes, the start would read: nothing starts under the dialog.
        bool startedUnder = true;
        bool pendingUnder = false;
        QTimer::singleShot(0, [&] {
            RunFor(300);
            startedUnder = form.Starting() || !Idle();
            pendingUnder = form.ProcessAtStart;
            if (QWidget* dialog = QApplication::activeModalWidget())
                qobject_cast<QDialog*>(dialog)->reject();
        });
        if (options)
            form.Options2Click();
        else
            form.SelectVarnel1Click();
        EXPECT_FALSE(startedUnder);
        EXPECT_TRUE(pendingUnder);
        ASSERT_TRUE(StartEnded());
        EXPECT_FALSE(Idle());
        TStandInPlayer::Last->Status = FileStatus::Succeeded;
        ASSERT_TRUE(RunToEnd());
    }
}

TEST_F(DesktopShown, WithoutTheDriverTheFirstShowingReportsItClosesAndGivesStatusTwo)
{
    FtUnload();
    FtSetLibraryFolder(Folder); // holds no driver
    TJtagMainForm& form = Create({"-F", Good, "-P"});
    TModalAnswerer answerer;
    form.show();
    ASSERT_TRUE(RunUntil([&] { return form.Closed(); }, 10000));
    ASSERT_FALSE(answerer.Seen.empty());
    EXPECT_EQ(answerer.Seen[0].Caption, "Error");
    EXPECT_EQ(answerer.Seen[0].Text, "USB drivers not found or bad version.");
    EXPECT_EQ(ExitStatus, 2);
    EXPECT_TRUE(std::filesystem::exists(Ini));
}

TEST_F(DesktopRun, AProgramCloseWhileABoxIsOpenClosesTheBoxAndThenTheWindow)
{
    Sim->Load(exectest::Scenario({}));
    TJtagMainForm& form = Create({"-F", Good, "-P", "-CC"});
    // The About box stays open until the -P start fails and asks to close.
    TModalAnswerer watcher(QMessageBox::Ok, false);
    form.About1Click();
    EXPECT_EQ(watcher.Seen.size(), 1u);
    EXPECT_EQ(ExitStatus, 2);
    EXPECT_FALSE(form.Closed()); // not inside the box's own loop
    ASSERT_TRUE(RunUntil([&] { return form.Closed(); }, 5000));
    EXPECT_TRUE(std::filesystem::exists(Ini));
}

TEST_F(DesktopRun, ASignalEndsARunAsFailedParksTheCableAndClosesDespiteTheRun)
{
    TJtagMainForm& form = Create({"-F", StandIn});
    form.MenuProcessClick();
    ASSERT_TRUE(StartEnded());
    ASSERT_FALSE(Idle());
    TStandInPlayer::StopSeen = false;
    form.EndOnSignal();
    EXPECT_TRUE(TStandInPlayer::StopSeen);
    EXPECT_EQ(TStandInPlayer::Last, nullptr);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(ExitStatus, 1);
    EXPECT_TRUE(form.Closed());
    EXPECT_THAT(VarnelCloses(), Not(IsEmpty()));
    form.TimerTimer();
    EXPECT_EQ(MemoTexts(form).back(), FailureLine);
}

} // namespace
