#pragma once

#include <QObject>
#include <QTimer>

// Gives memory the service no longer uses back to the system now and then.
// The C library keeps what was freed for later use, spread over the arenas
// of the threads that freed it, so a burst of clients that came and went
// would otherwise leave the service as large as at the burst's peak.
class MemoryReturner : public QObject
{
    Q_OBJECT
public:
    explicit MemoryReturner(int intervalMs, QObject* parent = nullptr);

    // Returns what can be returned; gives false where the C library cannot.
    static bool returnUnused();

private:
    QTimer m_timer;
};
