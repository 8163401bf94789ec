// The options dialog over the executor's settings.
#pragma once

class QWidget;
class TJtagExecuter;

// The main window's Options2Click: loads the dialog from Executer, shows it
// modally and writes it back only on OK. True when OK was chosen.
bool ShowOptionsDialog(QWidget* Owner, TJtagExecuter& Executer);
