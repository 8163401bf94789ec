// orbeskcon: plays one SVF or XSVF file named on the command line on a USB JTAG
// cable, prints the log and reports the outcome by its exit status.
#include "console_exec.h"
#include "paramutils.h"
#include "svf/svf.h"
#include "xsvf/xsvf.h"

int main(int argc, char** argv)
{
    SetProcessArguments(argc, argv);
    RegisterSvfPlayer();
    RegisterXsvfPlayer();
    return ConsoleMain();
}
