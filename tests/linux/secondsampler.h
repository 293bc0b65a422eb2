#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <vector>

class PeerCounter;

// Drives a meter's readings itself, each between two reads of every peer's
// counter, so that each rate the meter gives for a window can be held
// against what the peer counted in that same window. The bounds of a window
// take in the time the reads around the meter's own took, so a busy machine
// widens them instead of failing the comparison.
class SecondSampler
{
public:
    struct Window
    {
        double rate = 0; // the meter's, bytes a second
        double low = 0;  // the peer's count over the window, bytes a second
        double high = 0;
        // How far the rate is outside [low, high], in bytes a second.
        double outside() const;
    };
    // The meter's rate of one flow after a reading; false when the flow's
    // program was not running at the reading, so that it has no rate.
    using Rate = std::function<bool(double* bytesPerSecond)>;

    explicit SecondSampler(std::function<void()> readMeter);
    void addFlow(const QString& name, PeerCounter* peer, Rate rate);
    // One reading of the meter and the peers; false (with error) when a peer
    // could not be read.
    bool sample(QString* error);

    int flows() const { return int(m_flows.size()); }
    QString name(int flow) const { return m_flows[size_t(flow)].name; }
    QList<Window> windows(int flow) const { return m_flows[size_t(flow)].windows; }
    // What the peer counted up to the last reading, in bytes.
    double peerTotal(int flow) const;

private:
    struct Flow
    {
        QString name;
        PeerCounter* peer = nullptr;
        Rate rate;
        bool read = false;
        quint64 before = 0; // of the last reading
        quint64 after = 0;
        QList<Window> windows;
    };

    std::function<void()> m_readMeter;
    std::vector<Flow> m_flows;
    qint64 m_beforeNs = -1; // on the monotonic clock, around the last meter reading
    qint64 m_afterNs = -1;
};
