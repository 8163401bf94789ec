// The cable selection dialog.
#pragma once

class QWidget;
class TJtagExecuter;

// The main window's ChooseProgrammer: marks the current SelectedCable,
// shows the dialog modally and on OK stores the chosen ProgrammerId (-1
// when none is selected) in SelectedCable. True when OK was chosen.
bool ChooseProgrammer(QWidget* Owner, TJtagExecuter& Executer);
