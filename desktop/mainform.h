// The desktop program's one window: the menu, the coloured log, the
// progress bar and the status line naming the cable; it owns the executor,
// starts runs from its menu and from the command line (the start itself on
// a worker, so that the window answers while it waits), polls the running
// player every 100 ms and ends the run when the player says so.
#pragma once

#include <QColor>
#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"
#include "startworker.h"

class QLabel;
class QProgressBar;
class QTextEdit;
class QTimer;
class QUrl;
class TJtagMainForm;
namespace Ui {
class JtagMainForm;
}

// The program's exit status: 0 nothing played or the last run succeeded, 1
// the last run failed, 2 no driver library or a failed -P start.
extern uint8_t ExitStatus;
// The status line after a start that failed.
extern const char* const NotPlayingText;
// The one window, while it exists.
extern TJtagMainForm* JtagMainForm;

// A log line's colour by its kind, as 0x00BBGGRR.
uint32_t MessageColour(MessageKind Kind);
QColor ColourFromValue(uint32_t Value);

// The address of the user manual for a ProgrammerId: the Varnel's when
// bits 16-23 are 0x01, else the Mirrow's.
std::string ManualUrl(int32_t SelectedCable);

class TMainFormExecuter : public TJtagExecuter {
public:
    TMainFormExecuter() = default;
    // Ends a run still going before the queue goes: its worker calls Message.
    ~TMainFormExecuter() override;

    struct TQueuedLine {
        std::string Text;              // Windows-1252, as the engine writes it
        std::optional<uint32_t> Colour; // none shows black
    };
    // Lines waiting for the window's next drain, in arrival order.
    std::vector<TQueuedLine> MessageQueue;
    // The status line's next text, for the same drain.
    std::optional<std::string> QueuedStatus;
    std::mutex QueueLock;

    // Queues the line with the colour of its kind; any thread may call it.
    void Message(const std::string& Text, MessageKind Kind) override;
    // Chooses a cable when none is, queues its name for the status line,
    // forgets the cached pin levels and queued bytes; true when a cable is
    // chosen. Runs on the start's worker.
    bool PrepareCable() override;
};

class TJtagMainForm : public QMainWindow {
    Q_OBJECT

public:
    // Args: the command line without the program's name, as it stood before
    // the toolkit took its own options out.
    explicit TJtagMainForm(const std::vector<std::string>& Args, QWidget* Parent = nullptr);
    ~TJtagMainForm() override;

    std::string SettingsPath;
    std::unique_ptr<TMainFormExecuter> Executer;
    bool ProcessAtStart = false;
    bool CloseOnSuccess = false;
    bool CloseOnFailure = false;
    std::string ProgramVersion;

    // The open dialog's state between uses: its file name is the last file.
    std::string OpenDialogFileName;
    std::string OpenDialogFilter;
    int OpenDialogFilterIndex = 1;

    // Hands an address to the desktop's URL handler; tests stand in.
    std::function<bool(const QUrl&)> OpenUrl;

    QTextEdit* MainMemo() const;
    QProgressBar* MainProgress() const;
    QString StatusText() const;
    void SetStatusText(const QString& Text);
    bool WriteComments() const;

    // The settings file at SettingsPath into the executor and the comment
    // switch, and back; a file that cannot be written is said in the log
    // and in a box (on standard error instead in an unattended run).
    void LoadSettings();
    void SaveSettings();
    // The log line for a settings file that cannot be written; its text.
    std::string ReportSettingsNotSaved(const std::string& Reason);

    // One line at the end of the log; and the log emptied.
    void AppendLog(const QString& Text, const QColor& Colour);
    void ClearLog();

    // The driver library, when the window is first shown.
    void FormShow();
    // A close the program asks for itself (-C, -CC, no driver, a signal):
    // with a dialog or message box open, that is closed first and the
    // window closes on a later tick, once no modal loop runs.
    void RequestClose();
    // SIGTERM or SIGINT: a run still going ends as a failed run, the cable
    // is parked and closed, and the window closes.
    void EndOnSignal();
    // The window has closed (its settings written).
    bool Closed() const { return FClosed; }
    // A start is under way on its worker: the executor is the worker's
    // until the tick has taken the outcome.
    bool Starting() const { return FStarter.Busy(); }

public Q_SLOTS:
    void File1Click();
    void Open1Click();
    void MenuProcessClick();
    void Close1Click();
    void Options2Click();
    void Copycommentstoconsole1Click();
    void SelectVarnel1Click();
    void About1Click();
    void Help2Click();
    void TimerTimer();

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void FormCreate(const std::vector<std::string>& Args);
    bool FormCloseQuery();
    void FormClose();
    // Neither a start nor a run under way.
    bool Idle() const;
    // A menu start: nothing unless idle, or while a close is pending.
    void StartFromMenu();
    // The log cleared for a menu start and the bar emptied; then the start
    // of the last file on the worker, whose outcome the tick takes.
    void StartRun(bool FromMenu);
    // The start's outcome: true when its file plays; otherwise the status
    // line says so, and a failed command-line start sets the exit status
    // and closes on -CC.
    void EndStart(bool Started);
    // Ends the run held in CurrentFile by its outcome.
    void EndRun(bool Failed);
    void DrainLog();
    // Open, Process Last File (while the file exists), Options and Select
    // Programmer only while idle.
    void UpdateRunControls();
    void CloseModalDialogs();

    std::unique_ptr<Ui::JtagMainForm> FUi;
    QTimer* FTimer = nullptr;
    QLabel* FStatusText = nullptr;
    bool FMemoHasLines = false;
    TStartWorker FStarter;
    bool FStartFromMenu = false;
    // SelectedCable as the start found it: the worker may change it meanwhile.
    int32_t FCableBeforeStart = -1;
    // The comment switch's mark, for the player's start on the worker.
    std::atomic<bool> FWriteComments{true};
    // The options or the cable choice is open: what it writes on OK the
    // start's worker would read, so the -P start waits for it.
    bool FEditingSettings = false;
    // -P with -C or -CC: nobody is there to answer a box.
    bool FUnattended = false;
    bool FShown = false;
    bool FCloseRequested = false;
    bool FForceClose = false;
    bool FClosed = false;
};
