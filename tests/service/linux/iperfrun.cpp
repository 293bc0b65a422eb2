#include "iperfrun.h"

#include "netnslab.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

IperfRun::IperfRun(NetnsLab* lab, const Options& options) : m_lab(lab), m_options(options) {}

int IperfRun::nextPort()
{
    static int port = 5300;
    return ++port;
}

bool IperfRun::start()
{
    m_port = nextPort();
    m_server = m_lab->start(m_lab->peerNetns(), 0,
                            {"iperf3", "-s", "-1", "-J", "-p", QString::number(m_port)});
    // The server is ready once it listens; iperf3 says so only in text mode.
    QElapsedTimer clock;
    clock.start();
    const QString probe = QStringLiteral("ss -Hltn sport = :%1").arg(m_port);
    QByteArray listening;
    while (clock.elapsed() < 5000) {
        NetnsLab::run({"nsenter", "--net=/run/netns/" + m_lab->peerNetns(), "sh", "-c", probe},
                      &listening);
        if (!listening.trimmed().isEmpty())
            break;
        QThread::msleep(20);
    }
    if (listening.trimmed().isEmpty()) {
        m_error = QStringLiteral("the iperf3 server did not come up");
        return false;
    }
    QStringList client{"iperf3",
                       "-c",
                       m_options.host.isEmpty() ? NetnsLab::peerAddress(m_options.ipv6)
                                                : m_options.host,
                       "-p",
                       QString::number(m_port),
                       "-J",
                       "-t",
                       QString::number(m_options.seconds),
                       "-P",
                       QString::number(m_options.streams),
                       "--get-server-output"};
    if (m_options.download)
        client << "-R";
    if (m_options.blockBytes)
        client << "-l" << QString::number(m_options.blockBytes);
    if (m_options.udp)
        client << "-u"
               << "-b" << QString::number(m_options.udpOffered * 8);
    m_client = m_lab->start(m_lab->appNetns(), m_options.app, m_options.wrapper + client);
    return m_client->state() != QProcess::NotRunning;
}

bool IperfRun::running() const
{
    return m_client && m_client->state() != QProcess::NotRunning;
}

void IperfRun::abort()
{
    if (m_client)
        m_client->kill();
    if (m_server)
        m_server->kill();
}

bool IperfRun::finish(int timeoutMs)
{
    if (!m_client ||
        (m_client->state() != QProcess::NotRunning && !m_client->waitForFinished(timeoutMs))) {
        m_error = QStringLiteral("iperf3 did not finish");
        abort();
        return false;
    }
    const QByteArray output = m_client->readAllStandardOutput();
    QJsonObject client = QJsonDocument::fromJson(output).object();
    if (client.contains("error")) {
        m_error = "iperf3: " + client.value("error").toString();
        return false;
    }
    // The receiver's own intervals: the client's when it receives, else the server's.
    const QJsonObject receiver =
        m_options.download ? client : client.value("server_output_json").toObject();
    const QJsonArray intervals = receiver.value("intervals").toArray();
    for (const QJsonValue& interval : intervals) {
        const QJsonObject sum = interval.toObject().value("sum").toObject();
        const double seconds = sum.value("seconds").toDouble();
        if (seconds < 0.5)
            continue; // the stub a run can end with
        m_intervals.append(sum.value("bytes").toDouble() / seconds);
        m_durations.append(seconds);
    }
    if (m_intervals.isEmpty()) {
        m_error = "iperf3 gave no intervals: " + QString::fromLocal8Bit(output.left(400));
        return false;
    }
    if (m_server)
        m_server->waitForFinished(5000);
    return true;
}

double IperfRun::average() const
{
    double bytes = 0;
    double seconds = 0;
    // Not the run's last second either: a reader that fell behind on a busy
    // machine drains its socket then, in a burst the link never carried.
    const int last = qMin(int(m_intervals.size()), m_options.seconds - 1);
    for (int i = 1; i < last; ++i) {
        bytes += m_intervals.at(i) * m_durations.at(i);
        seconds += m_durations.at(i);
    }
    return seconds > 0 ? bytes / seconds : 0;
}
