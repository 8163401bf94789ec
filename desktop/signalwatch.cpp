#include "signalwatch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int Pipe[2] = {-1, -1};
platform::TStopToken Stop;

// Only what is safe in a handler: a lock-free store and one write to a pipe.
void OnSignal(int Number)
{
    Stop.Ask();
    const char byte = static_cast<char>(Number);
    (void)!write(Pipe[1], &byte, 1);
}

void SetHandler(void (*Handler)(int))
{
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

TSignalWatcher::TSignalWatcher(QObject* Parent) : QObject(Parent)
{
    if (Pipe[0] < 0 && pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FNotifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalWatcher::Read);
    SetHandler(OnSignal);
}

TSignalWatcher::~TSignalWatcher()
{
    if (FNotifier)
        SetHandler(SIG_DFL);
}

platform::TStopToken& TSignalWatcher::StopToken()
{
    return Stop;
}

void TSignalWatcher::Read()
{
    char bytes[16];
    bool any = false;
    while (read(Pipe[0], bytes, sizeof bytes) > 0)
        any = true;
    if (any)
        Q_EMIT Signalled();
}
