// The options dialog over the executor's settings.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>

class QKeyEvent;
class QLineEdit;
class QWidget;
class TJtagExecuter;
class TUpDown;

namespace Ui {
class OptionsForm;
}

// The main window's Options2Click: loads the dialog from Executer, shows it
// modally and writes it back only on OK. True when OK was chosen.
bool ShowOptionsDialog(QWidget* Owner, TJtagExecuter& Executer);

// The dialog itself; its controls are found by their object names.
class TOptionsForm : public QDialog {
    Q_OBJECT

public:
    // Owner's slot Help2Click, when it has one, serves the Manual button.
    explicit TOptionsForm(QWidget* Owner);
    ~TOptionsForm() override;

    // Every settings field into its control, and back.
    void Load(const TJtagExecuter& Executer);
    void Save(TJtagExecuter& Executer);

    // Tenths of a volt from an edit's text, a comma read as the decimal
    // point; 0 for text that is not a number. Not clamped.
    static int ReadVoltageEdit(const QLineEdit* Edit);
    // Clamped to 1.8 V .. 5.5 V, written as "d.d".
    static void WriteVoltageEdit(QLineEdit* Edit, int Tenths);

    // Shows a note with one OK button; tests replace it.
    std::function<void(const QString& Text)> Inform;
    // True while OK may not write back (a file is playing): OK then says so
    // and the dialog stays open with its edits.
    std::function<bool()> WriteBlocked;

public slots:
    void FormCreate();
    void ButtonHelpClick();
    void ButtonDefaultFPGAClick();
    void ButtonDefaultXC9500Click();
    void ButtonDefaultAVRClick();
    void RadioButtonRecalculateClick();
    void MIRROWVDDCheckBoxClick();
    void MIRROWVDDSpinButtonDownClick(TUpDown* Button);
    void MIRROWVDDSpinButtonUpClick(TUpDown* Button);
    void MIRROWVDDEditExit(QLineEdit* Edit);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void done(int Result) override;

private:
    struct TDefaultSet;
    void ApplyDefaults(const TDefaultSet& Set);
    void OrderTabStops();
    void MarkRadioTabStops();
    // True when the typed character is to be dropped.
    static bool ESecurTimeKeyPress(const QKeyEvent* Key);
    // The three edits that hold voltages.
    std::array<QLineEdit*, 3> VoltageEdits() const;
    QLineEdit* EditOf(TUpDown* Button) const;
    void StepVoltage(TUpDown* Button, int Tenths);

    std::unique_ptr<Ui::OptionsForm> ui;
    QWidget* FOwner;
};
