// The menu's dialogs: options, cable selection, about and the manual.
#include <QMessageBox>
#include <QUrl>

#include "jtagself.h"
#include "mainform.h"
#include "optionf.h"

namespace {

// Where the manuals are published.
const char* const ManualHost = "https://orbesk.example.org";

} // namespace

std::string ManualUrl(int32_t SelectedCable)
{
    const bool varnel = (static_cast<uint32_t>(SelectedCable) >> 16 & 0xFF) == 0x01;
    return std::string(ManualHost) + (varnel ? "/_programmers/varnel_en.pdf" : "/_programmers/mirrow_en.pdf");
}

void TJtagMainForm::Options2Click()
{
    if (!Idle())
        return;
    FEditingSettings = true;
    ShowOptionsDialog(this, *Executer);
    FEditingSettings = false;
}

void TJtagMainForm::Copycommentstoconsole1Click()
{
    // The menu item is checkable: its mark has already changed, and the
    // next run's start reads it.
}

void TJtagMainForm::SelectVarnel1Click()
{
    if (!Idle())
        return;
    FEditingSettings = true;
    ChooseProgrammer(this, *Executer);
    FEditingSettings = false;
}

void TJtagMainForm::About1Click()
{
    QMessageBox::information(this, "Information", "Program version " + QString::fromStdString(ProgramVersion));
}

void TJtagMainForm::Help2Click()
{
    // While a start chooses a cable, the one chosen before it.
    const int32_t cable = FStarter.Busy() ? FCableBeforeStart : Executer->SelectedCable;
    const QString url = QString::fromStdString(ManualUrl(cable));
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, "Confirmation", "User manual is accessible on the internet. Do you want to open " + url + "?",
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        OpenUrl(QUrl(url));
}
