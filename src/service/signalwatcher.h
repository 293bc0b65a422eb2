#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the event loop. The handler
// itself only writes the signal's number into a pipe, the one thing that is
// safe to do there; a socket notifier reads it in the loop. One instance per
// process.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }
    // Also turns SIGUSR1 into holdRequested().
    void watchHoldSignal();

signals:
    void terminationRequested(int signalNumber);
    void holdRequested();

private slots:
    void onReadable();

private:
    QSocketNotifier* m_notifier = nullptr;
};
