// orbesk: the desktop program. Plays SVF and XSVF files on a USB JTAG cable
// from its menu, or the one named on its command line, unattended, with the
// outcome in its exit status.
#include <QApplication>

#include <string>
#include <vector>

#include "mainform.h"
#include "signalwatch.h"
#include "svf/svf.h"
#include "xsvf/xsvf.h"

int main(int argc, char** argv)
{
    // The toolkit takes its own options out of argv: the command line is
    // read from a copy taken first.
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The open dialog lists the types in this order.
    RegisterSvfPlayer();
    RegisterXsvfPlayer();

    QApplication app(argc, argv);
    TJtagMainForm form(args);
    TSignalWatcher watcher;
    QObject::connect(&watcher, &TSignalWatcher::Signalled, &form, &TJtagMainForm::EndOnSignal);
    // The event loop does not run while a cable search waits: the engine
    // looks at the stop itself.
    form.Executer->UseStop(TSignalWatcher::StopToken());
    form.show();
    app.exec();
    return ExitStatus;
}
