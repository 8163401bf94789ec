// Run control: the menu starts, the start on its worker, the 100 ms tick
// (the start's outcome, the command-line start, polling, the end of a run,
// the log drain) and the log itself.
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

#include "cmdline.h"
#include "cp1252.h"
#include "mainform.h"
#include "ui_mainform.h"

namespace {

bool IsExistingFile(const std::string& Path)
{
    struct stat info {};
    return !Path.empty() && stat(Path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// The toolkit's filters want their patterns in parentheses, blank-separated.
QStringList DialogNameFilters(const std::string& Filter)
{
    QStringList filters;
    for (const TFilterEntry& entry : SplitOpenFilter(Filter)) {
        QString text = QString::fromStdString(entry.Text);
        if (!text.endsWith(')'))
            text += " (" + QString::fromStdString(entry.Patterns).replace(';', ' ') + ")";
        filters << text;
    }
    return filters;
}

// On the start's worker: the executor only, nothing of the window.
bool StartOnWorker(TJtagExecuter& Executer, const std::string& FileName)
{
    // The file first: one that cannot be played touches no cable.
    if (!Executer.PrepareFile(FileName))
        return false;
    // No cable: the checked file is not kept for a start that never comes.
    if (!Executer.PrepareCable()) {
        Executer.ReleasePreparedFile();
        return false;
    }
    if (Executer.OpenAndStart(FileName))
        return true;
    // A cable opened for a file that could not be started is let go at
    // once: no target stays powered or driven until the next run.
    Executer.CloseCable(true);
    return false;
}

} // namespace

void TJtagMainForm::File1Click()
{
    UpdateRunControls();
}

bool TJtagMainForm::Idle() const
{
    // While starting, CurrentFile is the worker's to write.
    return !FStarter.Busy() && !Executer->CurrentFile;
}

void TJtagMainForm::Open1Click()
{
    if (!Idle() || FCloseRequested)
        return;
    QFileDialog dialog(this, "Open file for process");
    dialog.setObjectName("OpenDialog");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    const QStringList filters = DialogNameFilters(OpenDialogFilter);
    dialog.setNameFilters(filters);
    if (OpenDialogFilterIndex >= 1 && OpenDialogFilterIndex <= filters.size())
        dialog.selectNameFilter(filters[OpenDialogFilterIndex - 1]);
    if (!OpenDialogFileName.empty())
        dialog.selectFile(QString::fromLocal8Bit(OpenDialogFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    OpenDialogFileName = dialog.selectedFiles().first().toLocal8Bit().toStdString();
    OpenDialogFilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    UpdateRunControls();
    // The tick went on while the dialog was open: a -P run may have
    // started, or the program may be closing.
    StartFromMenu();
}

void TJtagMainForm::MenuProcessClick()
{
    StartFromMenu();
}

void TJtagMainForm::StartFromMenu()
{
    if (!Idle() || FCloseRequested)
        return;
    StartRun(true);
}

void TJtagMainForm::StartRun(bool FromMenu)
{
    // Every menu start begins a new log, refused or not; the bar shows no
    // earlier run's progress under it.
    if (FromMenu)
        ClearLog();
    FUi->MainProgress->setValue(0);
    FStartFromMenu = FromMenu;
    FCableBeforeStart = Executer->SelectedCable;
    TJtagExecuter* executer = Executer.get();
    const std::string fileName = OpenDialogFileName;
    FStarter.Begin([executer, fileName] { return StartOnWorker(*executer, fileName); });
    UpdateRunControls();
}

void TJtagMainForm::EndStart(bool Started)
{
    // The cable's name and the start's lines first.
    DrainLog();
    // The engine has said why in the log; the status line must not go on
    // naming a cable as if it were in use.
    if (!Started)
        SetStatusText(NotPlayingText);
    UpdateRunControls();
    if (!Started && !FStartFromMenu) {
        // A stop signal ended the start: the window closes on it.
        ExitStatus = Executer->Stopping() ? 1 : 2;
        if (CloseOnFailure)
            RequestClose();
    }
    // A stop signal came while it started: a run it began ends now.
    if (FForceClose)
        EndOnSignal();
}

void TJtagMainForm::TimerTimer()
{
    // A close asked for while a modal loop ran waits for a tick that
    // begins outside of one.
    const bool modalAtStart = QApplication::activeModalWidget() != nullptr;
    if (FStarter.Done())
        EndStart(FStarter.Take());
    if (Idle() && ProcessAtStart && !FCloseRequested && !FEditingSettings) {
        ProcessAtStart = false;
        // The log is not cleared: the echoed command line stays above.
        StartRun(false);
    }

    if (TJtagFile* player = FStarter.Busy() ? nullptr : Executer->CurrentFile.get()) {
        // A bar with no range at all would turn into a busy indicator.
        const int size = std::max(player->GetSize(), 1);
        if (size != FUi->MainProgress->maximum())
            FUi->MainProgress->setMaximum(size);
        FUi->MainProgress->setValue(std::clamp(player->GetPosition(), 0, size));
        const FileStatus status = player->GetStatus();
        if (status == FileStatus::Failed || status == FileStatus::Succeeded)
            EndRun(status == FileStatus::Failed);
    }

    DrainLog();

    if (FCloseRequested && !FClosed && !FStarter.Busy() && !modalAtStart && !QApplication::activeModalWidget())
        close();
}

void TJtagMainForm::EndRun(bool Failed)
{
    // Closed before the outcome is said: closing bytes that did not go (a
    // target still powered) fail the run.
    if (!Executer->CloseCable(Failed))
        Failed = true;
    if (Failed) {
        Executer->Message("!! ERROR !! File processing failed", MessageKind::Error);
    } else {
        Executer->Message("File processing completed successfully", MessageKind::Info);
        FUi->MainProgress->setValue(FUi->MainProgress->maximum());
    }
    Executer->CurrentFile.reset();
    ExitStatus = Failed ? 1 : 0;
    UpdateRunControls();
    if (Failed ? CloseOnFailure : CloseOnSuccess)
        RequestClose();
}

void TJtagMainForm::UpdateRunControls()
{
    // They change settings the worker reads and the cable that is open,
    // or start a run, which waits for the one playing or starting.
    const bool idle = Idle();
    FUi->Options2->setEnabled(idle);
    FUi->SelectVarnel1->setEnabled(idle);
    FUi->Open1->setEnabled(idle);
    FUi->MenuProcess->setEnabled(idle && IsExistingFile(OpenDialogFileName));
}

void TJtagMainForm::DrainLog()
{
    std::unique_lock<std::mutex> lock(Executer->QueueLock, std::try_to_lock);
    // A worker holds it: the lines wait for a later tick.
    if (!lock.owns_lock())
        return;
    if (Executer->QueuedStatus) {
        SetStatusText(QString::fromLatin1(*Executer->QueuedStatus));
        Executer->QueuedStatus.reset();
    }
    for (const TMainFormExecuter::TQueuedLine& line : Executer->MessageQueue)
        AppendLog(FromWindows1252(line.Text), ColourFromValue(line.Colour.value_or(0)));
    Executer->MessageQueue.clear();
}

void TJtagMainForm::AppendLog(const QString& Text, const QColor& Colour)
{
    QTextEdit* memo = FUi->MainMemo;
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(Colour);
    // A parse error's line text follows on a line of its own after CR LF.
    QString text = Text;
    text.replace("\r\n", "\n").replace('\r', '\n');
    for (const QString& part : text.split('\n')) {
        if (FMemoHasLines)
            cursor.insertBlock();
        cursor.insertText(part, format);
        FMemoHasLines = true;
    }
    // The log follows the newest line and shows its start: the memo's own
    // cursor goes there, where showing and resizing keep it in view.
    cursor.movePosition(QTextCursor::StartOfBlock);
    memo->setTextCursor(cursor);
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

void TJtagMainForm::ClearLog()
{
    FUi->MainMemo->clear();
    FMemoHasLines = false;
}
