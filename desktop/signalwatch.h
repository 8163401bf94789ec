// SIGTERM and SIGINT turned into a signal of the window thread's event
// loop, so that a run they end is ended there, as any other run.
#pragma once

#include <QObject>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit TSignalWatcher(QObject* Parent = nullptr);
    // The default actions come back.
    ~TSignalWatcher() override;

    // A signal has come since a watcher was made; safe on any thread, and
    // true already while the event loop is held up (a wait for the cable
    // search lock).
    static bool SignalArrived();

Q_SIGNALS:
    void Signalled();

private:
    void Read();
    QSocketNotifier* FNotifier = nullptr;
};
