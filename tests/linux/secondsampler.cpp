#include "secondsampler.h"

#include "peercounter.h"

#include <algorithm>
#include <time.h>

namespace {

qint64 nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

double SecondSampler::Window::outside() const
{
    return std::max({0.0, low - rate, rate - high});
}

SecondSampler::SecondSampler(std::function<void()> readMeter) : m_readMeter(std::move(readMeter)) {}

void SecondSampler::addFlow(const QString& name, PeerCounter* peer, Rate rate)
{
    Flow flow;
    flow.name = name;
    flow.peer = peer;
    flow.rate = std::move(rate);
    m_flows.push_back(flow);
}

bool SecondSampler::sample(QString* error)
{
    std::vector<quint64> before(m_flows.size());
    for (size_t i = 0; i < m_flows.size(); ++i) {
        if (!m_flows[i].peer->read(&before[i])) {
            *error = QStringLiteral("cannot read the peer of %1").arg(m_flows[i].name);
            return false;
        }
    }
    const qint64 beforeNs = nowNs();
    m_readMeter();
    const qint64 afterNs = nowNs();
    for (size_t i = 0; i < m_flows.size(); ++i) {
        Flow& flow = m_flows[i];
        quint64 after = 0;
        if (!flow.peer->read(&after)) {
            *error = QStringLiteral("cannot read the peer of %1").arg(flow.name);
            return false;
        }
        double rate = 0;
        if (flow.read && flow.rate(&rate)) {
            Window window;
            window.rate = rate;
            const double shortest = double(beforeNs - m_afterNs) / 1e9;
            const double longest = double(afterNs - m_beforeNs) / 1e9;
            window.low = double(before[i] - flow.after) / longest;
            window.high = double(after - flow.before) / shortest;
            flow.windows.append(window);
        }
        flow.read = true;
        flow.before = before[i];
        flow.after = after;
    }
    m_beforeNs = beforeNs;
    m_afterNs = afterNs;
    return true;
}

double SecondSampler::peerTotal(int flow) const
{
    return double(m_flows[size_t(flow)].after);
}
