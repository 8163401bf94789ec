// Stand-ins for the two dialogs until they are built.
#include "jtagself.h"
#include "optionf.h"

bool ShowOptionsDialog(QWidget*, TJtagExecuter&)
{
    return false;
}

bool ChooseProgrammer(QWidget*, TJtagExecuter&)
{
    return false;
}
