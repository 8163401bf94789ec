// The cable selection dialog.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;
class QWidget;
class TJtagExecuter;

namespace Ui {
class JTAGVarnelSelectionForm;
}

// The main window's ChooseProgrammer: marks the current SelectedCable,
// shows the dialog modally and on OK stores the chosen ProgrammerId (-1
// when none is selected) in SelectedCable. True when OK was chosen.
bool ChooseProgrammer(QWidget* Owner, TJtagExecuter& Executer);

// Lists the connected cables, refreshed every second while it is open; its
// controls are found by their object names.
class TJTAGVarnelSelectionForm : public QDialog {
    Q_OBJECT

public:
    explicit TJTAGVarnelSelectionForm(QWidget* Owner);
    ~TJTAGVarnelSelectionForm() override;

    // Rebuilds the entries from the device search when the set of cables
    // changed; the selection stays on the cable chosen, or none when that
    // cable is gone.
    void RefreshProgrammerList();
    // Selects the first entry of that ProgrammerId; no such entry (or -1)
    // leaves the selection as it is.
    void SelectProgrammerItem(int32_t ProgrammerId);
    // The ProgrammerId of the selected entry, -1 when none is selected.
    int32_t SelectedProgrammer() const;

    QTimer* Timer;

public slots:
    void FormCreate();
    void TimerTimer();

private:
    std::unique_ptr<Ui::JTAGVarnelSelectionForm> ui;
    std::vector<int32_t> FProgrammerIds; // one per entry
};
