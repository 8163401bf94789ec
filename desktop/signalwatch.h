// SIGTERM and SIGINT turned into a signal of the window thread's event
// loop, so that a run they end is ended there, as any other run.
#pragma once

#include <QObject>

#include "stoptoken.h"

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit TSignalWatcher(QObject* Parent = nullptr);
    // The default actions come back.
    ~TSignalWatcher() override;

    // The program's stop, asked by the first signal since a watcher was
    // made: the engine looks at it itself while the event loop is held up
    // (a wait for the cable search lock).
    static platform::TStopToken& StopToken();

Q_SIGNALS:
    void Signalled();

private:
    void Read();
    QSocketNotifier* FNotifier = nullptr;
};
