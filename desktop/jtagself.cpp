#include "jtagself.h"

#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

#include "executor/jtag_execute.h"
#include "ui_jtagself.h"

namespace {

constexpr uint32_t RefreshLockWaitMs = 200;

} // namespace

TJTAGVarnelSelectionForm::TJTAGVarnelSelectionForm(QWidget* Owner)
    : QDialog(Owner), Timer(new QTimer(this)), ui(std::make_unique<Ui::JTAGVarnelSelectionForm>())
{
    ui->setupUi(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TJTAGVarnelSelectionForm::TimerTimer);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    FormCreate();
    Timer->start();
}

TJTAGVarnelSelectionForm::~TJTAGVarnelSelectionForm() = default;

void TJTAGVarnelSelectionForm::FormCreate()
{
    RefreshProgrammerList();
}

void TJTAGVarnelSelectionForm::TimerTimer()
{
    RefreshProgrammerList();
}

void TJTAGVarnelSelectionForm::RefreshProgrammerList()
{
    const struct {
        const TCableIdentity& Identity;
        uint8_t Kind;
    } kinds[] = {{VarnelIdentity, CableKindVarnel}, {MirrowIdentity, CableKindMirrow}, {DruvelIdentity, CableKindDruvel}};
    // A short wait, once for the three searches: the dialog stays
    // responsive, and while another program keeps the lock the list stays
    // as it is (a busy lock is no absent cable).
    const TFtSearchLock lock(TFtWaitHooks(), std::min<uint32_t>(FtLockSettings().WaitMs, RefreshLockWaitMs));
    if (!lock.Taken())
        return;
    QStringList texts;
    std::vector<int32_t> ids;
    for (const auto& k : kinds) {
        std::vector<int32_t> serials;
        FindDevices(k.Identity.Vid, k.Identity.Pid, k.Identity.SerialMask, -1, nullptr, serials);
        for (int32_t serial : serials) {
            const int32_t id = static_cast<int32_t>((static_cast<uint32_t>(serial) & 0xFFFFFF) | uint32_t{k.Kind} << 24);
            texts << QString::fromStdString(ProgrammerText(id));
            ids.push_back(id);
        }
    }
    // The same cables: the buttons and the user's selection stay as they are.
    if (texts == ui->RadioGroup->Items())
        return;
    // The selection stays with its cable, not with its position, so that OK
    // never picks another cable after one is unplugged.
    const int32_t selected = SelectedProgrammer();
    ui->RadioGroup->SetItems(texts);
    FProgrammerIds = ids;
    ui->RadioGroup->SetItemIndex(-1);
    SelectProgrammerItem(selected);
}

void TJTAGVarnelSelectionForm::SelectProgrammerItem(int32_t ProgrammerId)
{
    if (ProgrammerId == -1)
        return;
    const auto found = std::find(FProgrammerIds.begin(), FProgrammerIds.end(), ProgrammerId);
    if (found != FProgrammerIds.end())
        ui->RadioGroup->SetItemIndex(static_cast<int>(found - FProgrammerIds.begin()));
}

int32_t TJTAGVarnelSelectionForm::SelectedProgrammer() const
{
    const int index = ui->RadioGroup->ItemIndex();
    return index >= 0 && index < static_cast<int>(FProgrammerIds.size()) ? FProgrammerIds[index] : -1;
}

bool ChooseProgrammer(QWidget* Owner, TJtagExecuter& Executer)
{
    // On the heap and watched: closing the owner while the dialog is up
    // frees it with the owner.
    QPointer<TJTAGVarnelSelectionForm> form = new TJTAGVarnelSelectionForm(Owner);
    form->SelectProgrammerItem(Executer.SelectedCable);
    const bool ok = form->exec() == QDialog::Accepted && form;
    if (ok) {
        Executer.SelectedCable = form->SelectedProgrammer();
        Executer.CableFromSettings = false;
    }
    delete form;
    return ok;
}
