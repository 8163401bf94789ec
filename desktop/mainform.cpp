// The window's creation from the command line, its first showing (the
// driver library), the settings, and closing.
#include "mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include "base/sysutils.h"
#include "cmdline.h"
#include "settings/settings.h"
#include "svf/svf.h"
#include "ui_mainform.h"
#include "usb/usbplow.h"

#ifndef ORBESK_VERSION
#define ORBESK_VERSION ""
#endif

uint8_t ExitStatus = 0;
TJtagMainForm* JtagMainForm = nullptr;
const char* const NotPlayingText = "No file is playing";

namespace {

constexpr int TimerIntervalMs = 100;
constexpr int LogFontPixels = 15;

} // namespace

TJtagMainForm::TJtagMainForm(const std::vector<std::string>& Args, QWidget* Parent)
    : QMainWindow(Parent), FUi(std::make_unique<Ui::JtagMainForm>())
{
    FUi->setupUi(this);
    JtagMainForm = this;
    OpenUrl = [](const QUrl& Url) { return QDesktopServices::openUrl(Url); };

    QFont font("Lucida Console");
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(LogFontPixels);
    FUi->MainMemo->setFont(font);
    // A label of its own: the toolkit's temporary status message would be
    // wiped by the menu's status tips.
    FStatusText = new QLabel(FUi->MainStatus);
    FStatusText->setObjectName("MainStatusText");
    FUi->MainStatus->addWidget(FStatusText, 1);

    FTimer = new QTimer(this);
    FTimer->setObjectName("Timer");
    FTimer->setInterval(TimerIntervalMs);
    connect(FTimer, &QTimer::timeout, this, &TJtagMainForm::TimerTimer);

    // The SVF player asks the switch when a run starts, on the start's
    // worker: it reads a copy of the mark.
    FWriteComments = FUi->Copycommentstoconsole1->isChecked();
    connect(FUi->Copycommentstoconsole1, &QAction::toggled, this, [this](bool On) { FWriteComments = On; });
    SetSvfCommentSwitch([this] { return FWriteComments.load(); });

    FormCreate(Args);
    FTimer->start();
}

TJtagMainForm::~TJtagMainForm()
{
    FTimer->stop();
    // A start still going works on the executor.
    FStarter.Take();
    // FormDestroy: the executor goes first, while the window it reports to
    // is whole.
    Executer.reset();
    if (JtagMainForm == this) {
        SetSvfCommentSwitch(nullptr);
        JtagMainForm = nullptr;
    }
}

void TJtagMainForm::FormCreate(const std::vector<std::string>& Args)
{
    Executer = std::make_unique<TMainFormExecuter>();
    FormatSettings.DecimalSeparator = '.';
    FormatSettings.ThousandSeparator = ' ';
    ExitStatus = 0;
    SettingsPath = DesktopSettingsPath();

    const TDesktopCommandLine line = ParseDesktopCommandLine(Args);
    for (const std::string& echo : line.Echo)
        AppendLog(QString::fromLocal8Bit(echo), Qt::black);
    CloseOnSuccess = line.CloseOnSuccess;
    CloseOnFailure = line.CloseOnFailure;
    ProcessAtStart = line.ProcessAtStart;
    FUnattended = line.ProcessAtStart && (line.CloseOnSuccess || line.CloseOnFailure);
    if (line.SettingsPath)
        SettingsPath = *line.SettingsPath;
    if (line.DataFile)
        OpenDialogFileName = *line.DataFile;
    ChooseCableFromSerial(*Executer, line.SerialText, line.CableKind);
    // Without a usable serial the kind is a preference (only a Mirrow's
    // changes the automatic choice).
    if (Executer->SelectedCable == -1 || Executer->SelectedCable == AutoIgnoringLastSerial)
        Executer->PreferredKind = line.CableKind;

    ProgramVersion = ORBESK_VERSION;
    setWindowTitle(windowTitle() + " " + QString::fromStdString(ProgramVersion));

    const TOpenFilter filter = BuildOpenFilter(JtagFilesList);
    OpenDialogFilter = filter.Filter;
    OpenDialogFilterIndex = filter.FilterIndex;

    LoadSettings();
    // Said now, before any change in Options that would be lost.
    if (std::string reason; !SettingsCanBeSaved(SettingsPath, reason))
        ReportSettingsNotSaved(reason);
    UpdateRunControls();
}

QTextEdit* TJtagMainForm::MainMemo() const
{
    return FUi->MainMemo;
}

QProgressBar* TJtagMainForm::MainProgress() const
{
    return FUi->MainProgress;
}

QString TJtagMainForm::StatusText() const
{
    return FStatusText->text();
}

void TJtagMainForm::SetStatusText(const QString& Text)
{
    FStatusText->setText(Text);
}

bool TJtagMainForm::WriteComments() const
{
    return FUi->Copycommentstoconsole1->isChecked();
}

void TJtagMainForm::LoadSettings()
{
    bool writeComments = true;
    ::LoadSettings(SettingsPath, *Executer, writeComments);
    FUi->Copycommentstoconsole1->setChecked(writeComments);
}

void TJtagMainForm::SaveSettings()
{
    std::string reason;
    if (::SaveSettings(SettingsPath, *Executer, WriteComments(), &reason))
        return;
    const std::string line = ReportSettingsNotSaved(reason);
    // The window is about to go and the log with it: the changes made in
    // Options are lost, and the user must hear it now. Nobody answers a box
    // in an unattended run or after a stop signal.
    if (FUnattended || FForceClose)
        std::fprintf(stderr, "%s\n", line.c_str());
    else
        QMessageBox::warning(this, "Warning", QString::fromLocal8Bit(line));
}

std::string TJtagMainForm::ReportSettingsNotSaved(const std::string& Reason)
{
    const std::string line = "The settings file " + SettingsPath + " cannot be written: " + Reason + ".";
    AppendLog(QString::fromLocal8Bit(line), ColourFromValue(MessageColour(MessageKind::Warning)));
    return line;
}

void TJtagMainForm::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    if (FShown)
        return;
    FShown = true;
    // Once the window is up: the error box needs a running message loop.
    QTimer::singleShot(0, this, &TJtagMainForm::FormShow);
}

void TJtagMainForm::FormShow()
{
    if (FtLoad())
        return;
    QMessageBox::critical(this, "Error", "USB drivers not found or bad version.");
    ExitStatus = 2;
    RequestClose();
}

void TJtagMainForm::Close1Click()
{
    close();
}

void TJtagMainForm::closeEvent(QCloseEvent* Event)
{
    if (FClosed) {
        Event->accept();
        return;
    }
    // A close after a stop signal waits for the start's worker, which
    // still holds the executor; the tick closes then.
    if (FForceClose ? FStarter.Busy() : !FormCloseQuery()) {
        Event->ignore();
        return;
    }
    FormClose();
    Event->accept();
}

bool TJtagMainForm::FormCloseQuery()
{
    if (Idle())
        return true;
    QMessageBox::critical(this, "Error", "Please wait until file processing is done.");
    return false;
}

void TJtagMainForm::FormClose()
{
    FClosed = true;
    FTimer->stop();
    SaveSettings();
}

void TJtagMainForm::CloseModalDialogs()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
}

void TJtagMainForm::RequestClose()
{
    if (FClosed)
        return;
    FCloseRequested = true;
    if (QApplication::activeModalWidget()) {
        // The handler that opened it goes on once its modal loop has
        // returned; the window closes on a later tick.
        CloseModalDialogs();
        return;
    }
    // The tick closes once the start under way has ended.
    if (FStarter.Busy())
        return;
    close();
}

void TJtagMainForm::EndOnSignal()
{
    // The box of a close under way (settings not written) gives way too.
    if (FClosed) {
        CloseModalDialogs();
        return;
    }
    FForceClose = true;
    // A start under way ends at once on the stop; its end, on the tick,
    // comes back here for a run it may have started.
    if (FStarter.Busy()) {
        RequestClose();
        return;
    }
    if (Executer->CurrentFile) {
        Executer->CurrentFile->Stop();
        // The destructor waits for the worker, which now ends soon.
        Executer->CurrentFile.reset();
        Executer->Message("!! ERROR !! File processing failed", MessageKind::Error);
        Executer->CloseCable(true);
        ExitStatus = 1;
    }
    RequestClose();
}
