#include "optionf.h"

#include <QButtonGroup>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "resource.h"
#include "executor/jtag_execute.h"
#include "pngimage.h"
#include "ui_optionf.h"

namespace {

const char* const PreliminaryNote = "These settings are preliminary and subject to change.";
const char* const WaitNote = "Please wait until file processing is done.";

// A group with nothing checked (a loaded value outside its items) leaves the
// field as it was: an index of -1 would store 255.
void StoreIndex(const TRadioGroup* Group, uint8_t& Field, int Offset = 0)
{
    if (Group->ItemIndex() >= 0)
        Field = static_cast<uint8_t>(Group->ItemIndex() + Offset);
}

// The whole text as a decimal integer, else 0.
int32_t DecimalOrZero(const QString& Text)
{
    const std::string s = Text.trimmed().toStdString();
    int32_t value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() ? value : 0;
}

// What the spin edit's text says, whether or not it was left: a number
// clamped to the range, anything else the lowest value.
int32_t SpinEditValue(const QSpinBox* Spin)
{
    bool ok = false;
    const int value = Spin->cleanText().toInt(&ok);
    return ok ? std::clamp(value, Spin->minimum(), Spin->maximum()) : Spin->minimum();
}

} // namespace

// One ready-made set: the controls it sets that differ between the sets;
// the rest (FREQUENCY ignored, fast clocks from 5 MHz, RUNTEST counts at
// 1 MHz, every auxiliary pin tristate) is common to all three.
struct TOptionsForm::TDefaultSet {
    QRadioButton* Ui::OptionsForm::*Tck;
    const char* SecurTime;
    int RuntestAdj;
    QRadioButton* Ui::OptionsForm::*Recalculate;
    int RuntestTime;
};

TOptionsForm::TOptionsForm(QWidget* Owner) : QDialog(Owner), ui(std::make_unique<Ui::OptionsForm>()), FOwner(Owner)
{
    ui->setupUi(this);
    // All seven tabs in view on their one row: as wide as the tab bar needs.
    ui->PageControl1->setMinimumWidth(ui->PageControl1->tabBar()->sizeHint().width() + 4);
    Inform = [this](const QString& Text) { QMessageBox::information(this, windowTitle(), Text); };

    connect(ui->Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->ButtonHelp, &QPushButton::clicked, this, &TOptionsForm::ButtonHelpClick);
    connect(ui->ButtonDefaultFPGA, &QPushButton::clicked, this, &TOptionsForm::ButtonDefaultFPGAClick);
    connect(ui->ButtonDefaultXC9500, &QPushButton::clicked, this, &TOptionsForm::ButtonDefaultXC9500Click);
    connect(ui->ButtonDefaultAVR, &QPushButton::clicked, this, &TOptionsForm::ButtonDefaultAVRClick);
    // Checking a button from code counts as a click, as loading needs.
    for (QRadioButton* b : {ui->RBRecalculateNA, ui->RBRecalculateFreq, ui->RBRecalculate1MHz})
        connect(b, &QRadioButton::toggled, this, &TOptionsForm::RadioButtonRecalculateClick);
    connect(ui->MIRROWVDDCheckBox, &QCheckBox::toggled, this, &TOptionsForm::MIRROWVDDCheckBoxClick);
    for (TUpDown* b : {ui->MIRROWVDDSpinButton, ui->MIRROWVDDMinSpinButton, ui->MIRROWVDDMaxSpinButton}) {
        connect(b, &TUpDown::UpClick, this, [this, b] { MIRROWVDDSpinButtonUpClick(b); });
        connect(b, &TUpDown::DownClick, this, [this, b] { MIRROWVDDSpinButtonDownClick(b); });
    }
    for (QLineEdit* e : VoltageEdits())
        e->installEventFilter(this);
    ui->ESecurTime->installEventFilter(this);
    OrderTabStops();
    for (QRadioButton* b : findChildren<QRadioButton*>())
        connect(b, &QRadioButton::toggled, this, &TOptionsForm::MarkRadioTabStops);
    MarkRadioTabStops();
    FormCreate();
}

void TOptionsForm::MarkRadioTabStops()
{
    // Tab enters a set of radio buttons at the one checked (the first when
    // none is), as the arrow keys and a click leave it; the others are
    // reached with the arrow keys.
    for (QRadioButton* b : findChildren<QRadioButton*>()) {
        QList<QAbstractButton*> set;
        if (b->group()) {
            set = b->group()->buttons();
        } else {
            for (QRadioButton* other : b->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
                if (other->autoExclusive() && !other->group())
                    set.append(other);
        }
        const auto checked = std::find_if(set.begin(), set.end(), [](QAbstractButton* x) { return x->isChecked(); });
        const bool stop = checked != set.end() ? *checked == b : set.first() == b;
        b->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void TOptionsForm::OrderTabStops()
{
    // The radio groups make their buttons after the rest of the form, which
    // puts them last: the order is set here as the controls stand. Tab
    // visits the tab bar, the page's controls top to bottom, then OK,
    // Cancel and Manual.
    std::vector<QWidget*> order{ui->PageControl1->tabBar()};
    const std::function<void(QWidget*)> walk = [&](QWidget* Parent) {
        for (QObject* child : Parent->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (!w || w->isWindow())
                continue;
            if (w->focusPolicy() & Qt::TabFocus)
                order.push_back(w);
            else
                walk(w);
        }
    };
    for (int i = 0; i < ui->PageControl1->count(); ++i)
        walk(ui->PageControl1->widget(i));
    order.insert(order.end(), {ui->Button1, ui->Button2, ui->ButtonHelp});
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

TOptionsForm::~TOptionsForm() = default;

void TOptionsForm::FormCreate()
{
    const struct {
        const char* Name;
        QLabel* Image;
    } pictures[] = {{"MirrowJtagConnectorPng", ui->ImageMirrow}, {"VarnelJtagConnectorPng", ui->ImageVarnel}};
    for (const auto& p : pictures) {
        // Sized to the picture; the page's layout centres it. A missing
        // resource decodes to an empty picture, as a broken one does.
        const platform::TResource* png = platform::FindResource(p.Name);
        const QPixmap picture =
            png ? QPixmap::fromImage(DecodePng(png->Data, png->Size)) : QPixmap();
        p.Image->setPixmap(picture);
        p.Image->setFixedSize(picture.size());
    }
}

void TOptionsForm::ButtonHelpClick()
{
    if (FOwner)
        QMetaObject::invokeMethod(FOwner, "Help2Click");
}

void TOptionsForm::ApplyDefaults(const TDefaultSet& Set)
{
    (ui.get()->*Set.Tck)->setChecked(true);
    ui->ChBIgnoreFreq->setChecked(true);
    ui->RGFastClock->SetItemIndex(3);
    ui->ESecurTime->setText(Set.SecurTime);
    ui->RGRuntestAdj->SetItemIndex(Set.RuntestAdj);
    (ui.get()->*Set.Recalculate)->setChecked(true);
    ui->RGRuntestTime->SetItemIndex(Set.RuntestTime);
    ui->RGRuntestPuls->SetItemIndex(0);
    for (TRadioGroup* pin : {ui->RGVarnelVPPActive, ui->RGVarnelVPPInactive, ui->RGMirrowPActive, ui->RGMirrowPInactive})
        pin->SetItemIndex(2);
    Inform(PreliminaryNote);
}

void TOptionsForm::ButtonDefaultFPGAClick()
{
    ApplyDefaults({&Ui::OptionsForm::RBTCK15, "0", 1, &Ui::OptionsForm::RBRecalculateFreq, 1});
}

void TOptionsForm::ButtonDefaultXC9500Click()
{
    ApplyDefaults({&Ui::OptionsForm::RBTCK3, "100", 0, &Ui::OptionsForm::RBRecalculateFreq, 0});
}

void TOptionsForm::ButtonDefaultAVRClick()
{
    ApplyDefaults({&Ui::OptionsForm::RBTCK1, "25", 0, &Ui::OptionsForm::RBRecalculate1MHz, 2});
}

void TOptionsForm::RadioButtonRecalculateClick()
{
    ui->RGRuntestAdj->setEnabled(!ui->RBRecalculateNA->isChecked());
}

void TOptionsForm::MIRROWVDDCheckBoxClick()
{
    const bool on = ui->MIRROWVDDCheckBox->isChecked();
    ui->MIRROWVDDEdit->setEnabled(on);
    ui->MIRROWVDDSpinButton->setEnabled(on);
    ui->MIRROWVDDDelaySpinEdit->setEnabled(on);
}

std::array<QLineEdit*, 3> TOptionsForm::VoltageEdits() const
{
    return {ui->MIRROWVDDEdit, ui->MIRROWVDDMinEdit, ui->MIRROWVDDMaxEdit};
}

QLineEdit* TOptionsForm::EditOf(TUpDown* Button) const
{
    if (Button == ui->MIRROWVDDMinSpinButton)
        return ui->MIRROWVDDMinEdit;
    if (Button == ui->MIRROWVDDMaxSpinButton)
        return ui->MIRROWVDDMaxEdit;
    return ui->MIRROWVDDEdit;
}

void TOptionsForm::StepVoltage(TUpDown* Button, int Tenths)
{
    QLineEdit* edit = EditOf(Button);
    // In 64 bits: an edit may read as the largest integer.
    const int64_t value = int64_t{ReadVoltageEdit(edit)} + Tenths;
    WriteVoltageEdit(edit, static_cast<int>(std::clamp<int64_t>(value, 0, 100)));
}

void TOptionsForm::MIRROWVDDSpinButtonDownClick(TUpDown* Button)
{
    StepVoltage(Button, -1);
}

void TOptionsForm::MIRROWVDDSpinButtonUpClick(TUpDown* Button)
{
    StepVoltage(Button, 1);
}

void TOptionsForm::MIRROWVDDEditExit(QLineEdit* Edit)
{
    WriteVoltageEdit(Edit, ReadVoltageEdit(Edit));
}

int TOptionsForm::ReadVoltageEdit(const QLineEdit* Edit)
{
    const std::string s = Edit->text().replace(',', '.').trimmed().toStdString();
    double volts = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), volts);
    if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(volts))
        return 0;
    // Halves to the even neighbour, as the default rounding mode does.
    const double tenths = std::nearbyint(volts * 10);
    constexpr double lowest = std::numeric_limits<int>::min(), highest = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(tenths, lowest, highest));
}

void TOptionsForm::WriteVoltageEdit(QLineEdit* Edit, int Tenths)
{
    const int v = std::clamp(Tenths, 18, 55);
    Edit->setText(QString("%1.%2").arg(v / 10).arg(v % 10));
}

bool TOptionsForm::ESecurTimeKeyPress(const QKeyEvent* Key)
{
    // Keys that type nothing (cursor keys, Delete) and control characters
    // (backspace, the clipboard shortcuts) are not typed characters.
    const QString text = Key->text();
    if (text.size() != 1)
        return false;
    const QChar c = text[0];
    return c.isPrint() && !(c >= '0' && c <= '9');
}

bool TOptionsForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == ui->ESecurTime && Event->type() == QEvent::KeyPress)
        return ESecurTimeKeyPress(static_cast<QKeyEvent*>(Event));
    // Only the voltage edits are normalised when left: the coefficient is
    // no voltage.
    const auto volts = VoltageEdits();
    if (Event->type() == QEvent::FocusOut && std::find(volts.begin(), volts.end(), Watched) != volts.end()) {
        // Leaving the edit within the program; switching to another
        // window does not count.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(Event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            MIRROWVDDEditExit(static_cast<QLineEdit*>(Watched));
    }
    return QDialog::eventFilter(Watched, Event);
}

void TOptionsForm::done(int Result)
{
    if (Result == Accepted && WriteBlocked && WriteBlocked()) {
        Inform(WaitNote);
        return;
    }
    QDialog::done(Result);
}

void TOptionsForm::Load(const TJtagExecuter& Executer)
{
    const struct {
        int Value;
        QRadioButton* Button;
    } tck[] = {{0, ui->RBTCK3}, {1, ui->RBTCK1}, {2, ui->RBTCK500k}, {5, ui->RBTCK5}, {10, ui->RBTCK10}, {15, ui->RBTCK15}};
    for (const auto& t : tck)
        if (Executer.DefFreq == t.Value)
            t.Button->setChecked(true);
    // A value outside a group's items checks none of them.
    ui->RGRuntestTime->SetItemIndex(Executer.DefFreqRuntestTime);
    ui->RGRuntestPuls->SetItemIndex(Executer.DefFreqRuntestPuls - 2);
    ui->RGFastClock->SetItemIndex(Executer.FreqToFast);
    QRadioButton* const recalculate[] = {ui->RBRecalculateNA, ui->RBRecalculateFreq, ui->RBRecalculate1MHz};
    if (Executer.RuntestRecalculate < 3)
        recalculate[Executer.RuntestRecalculate]->setChecked(true);
    ui->RGRuntestAdj->SetItemIndex(Executer.RuntestRecalculateOnly1000TCK ? 1 : 0);
    ui->RGVarnelVPPActive->SetItemIndex(Executer.VarnelVPPActive);
    ui->RGVarnelVPPInactive->SetItemIndex(Executer.VarnelVPPInactive);
    ui->RGMirrowPActive->SetItemIndex(Executer.MirrowPActive);
    ui->RGMirrowPInactive->SetItemIndex(Executer.MirrowPInactive);
    ui->ChBIgnoreFreq->setChecked(Executer.IgnoreFreqCmd);
    ui->ESecurTime->setText(QString::number(Executer.SecurityTime));
    ui->MIRROWVDDCheckBox->setChecked(Executer.MirrowVddOut);
    WriteVoltageEdit(ui->MIRROWVDDEdit, Executer.MirrowVddVal);
    WriteVoltageEdit(ui->MIRROWVDDMinEdit, Executer.MirrowVddMin);
    WriteVoltageEdit(ui->MIRROWVDDMaxEdit, Executer.MirrowVddMax);
    ui->MIRROWVDDDelaySpinEdit->setValue(Executer.MirrowVddDelay);
}

void TOptionsForm::Save(TJtagExecuter& Executer)
{
    if (ui->RBTCK15->isChecked())
        Executer.DefFreq = 15;
    else if (ui->RBTCK10->isChecked())
        Executer.DefFreq = 10;
    else if (ui->RBTCK5->isChecked())
        Executer.DefFreq = 5;
    else if (ui->RBTCK3->isChecked())
        Executer.DefFreq = 0;
    else if (ui->RBTCK1->isChecked())
        Executer.DefFreq = 1;
    else
        Executer.DefFreq = 2;
    StoreIndex(ui->RGRuntestTime, Executer.DefFreqRuntestTime);
    StoreIndex(ui->RGRuntestPuls, Executer.DefFreqRuntestPuls, 2);
    StoreIndex(ui->RGFastClock, Executer.FreqToFast);
    if (ui->RBRecalculateNA->isChecked())
        Executer.RuntestRecalculate = 0;
    else if (ui->RBRecalculateFreq->isChecked())
        Executer.RuntestRecalculate = 1;
    else if (ui->RBRecalculate1MHz->isChecked())
        Executer.RuntestRecalculate = 2;
    if (ui->RGRuntestAdj->ItemIndex() >= 0)
        Executer.RuntestRecalculateOnly1000TCK = ui->RGRuntestAdj->ItemIndex() == 1;
    StoreIndex(ui->RGVarnelVPPActive, Executer.VarnelVPPActive);
    StoreIndex(ui->RGVarnelVPPInactive, Executer.VarnelVPPInactive);
    StoreIndex(ui->RGMirrowPActive, Executer.MirrowPActive);
    StoreIndex(ui->RGMirrowPInactive, Executer.MirrowPInactive);
    Executer.IgnoreFreqCmd = ui->ChBIgnoreFreq->isChecked();
    Executer.SecurityTime = DecimalOrZero(ui->ESecurTime->text());
    Executer.MirrowVddOut = ui->MIRROWVDDCheckBox->isChecked();
    // Normalised as leaving the edit does, also when OK came by the Enter
    // key: a voltage the edit never showed must not reach the cable.
    const struct {
        QLineEdit* Edit;
        int32_t& Field;
    } volts[] = {{ui->MIRROWVDDEdit, Executer.MirrowVddVal},
                 {ui->MIRROWVDDMinEdit, Executer.MirrowVddMin},
                 {ui->MIRROWVDDMaxEdit, Executer.MirrowVddMax}};
    for (const auto& v : volts) {
        MIRROWVDDEditExit(v.Edit);
        v.Field = ReadVoltageEdit(v.Edit);
    }
    Executer.MirrowVddDelay = SpinEditValue(ui->MIRROWVDDDelaySpinEdit);
}

bool ShowOptionsDialog(QWidget* Owner, TJtagExecuter& Executer)
{
    // On the heap and watched: closing the owner while the dialog is up
    // (a -C run that ends meanwhile) frees it with the owner.
    QPointer<TOptionsForm> form = new TOptionsForm(Owner);
    form->WriteBlocked = [&Executer] { return Executer.CurrentFile != nullptr; };
    form->Load(Executer);
    const bool ok = form->exec() == QDialog::Accepted && form;
    if (ok)
        form->Save(Executer);
    delete form;
    return ok;
}
