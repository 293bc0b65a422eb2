// Round trips through the transport (a client and a server made by the
// factory, requests answered by an owner of the server) against a bare
// QTcpSocket ping-pong of the same frames, with no queues and no threads:
// in one process and across two, one request at a time and 100 outstanding.
//
//   bench_transport [benchmark flags]
//   bench_transport --serve transport|raw     (the child process; port in BWC_PORT)

#include "commands.h"
#include "serviceio.h"
#include "serviceiofactory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int RequestTimeoutMS = 10000;

QElapsedTimer& clock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.serverPort();
}

BaseCommandPtr makeRequest(quint32 id)
{
    auto* cmd = new BCI_IsProcessGame;
    cmd->setProcessId(id);
    return BaseCommandPtr(cmd);
}

// The service's answer, the same in both set-ups.
void answer(BaseCommand* cmd)
{
    if (BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd))
        game->setAnswer(qint32(game->processId() * 2));
    cmd->SetStatus(BCS_SUCCESS);
}

// The owner of the server: claims each request and sends it back answered.
class EchoOwner : public QObject
{
    Q_OBJECT
public:
    explicit EchoOwner(ServiceIO* server) : m_server(server)
    {
        connect(server, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
                SLOT(OnCommand(BaseCommandPtr)));
    }

private slots:
    void OnCommand(BaseCommandPtr cmd)
    {
        if (m_server->RetrieveCommand(&cmd) != 0)
            return;
        answer(cmd.data());
        m_server->SendCommand(cmd, RequestTimeoutMS);
    }

private:
    ServiceIO* m_server;
};

// A raw echo server on plain sockets in the calling thread.
class RawEcho : public QObject
{
    Q_OBJECT
public:
    explicit RawEcho(quint16 port)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &RawEcho::accept);
        m_listener.listen(QHostAddress(QHostAddress::LocalHost), port);
    }

private slots:
    void accept()
    {
        while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(socket, &QTcpSocket::readyRead, this, [socket] {
                BaseCommandPtr cmd;
                while (BaseCommand::ReadCommand(socket, &cmd) == 0) {
                    answer(cmd.data());
                    BaseCommand::WriteCommand(cmd.data(), socket);
                }
            });
        }
    }

private:
    QTcpServer m_listener;
};

// One side that sends requests and measures each one's round trip.
class Driver : public QObject
{
public:
    void send()
    {
        const quint32 id = m_nextId++;
        m_sentAt[id % m_sentAt.size()] = clock().nsecsElapsed();
        ++m_outstanding;
        post(makeRequest(id));
    }
    // Runs the event loop until at least one more reply has arrived.
    void waitForReply()
    {
        const qint64 before = m_replies;
        while (m_replies == before)
            m_loop.exec();
    }
    int outstanding() const { return m_outstanding; }
    qint64 replies() const { return m_replies; }
    std::vector<double>& latencies() { return m_latencies; }

protected:
    virtual void post(const BaseCommandPtr& cmd) = 0;
    void replied(const BaseCommandPtr& cmd)
    {
        const BCI_IsProcessGame* game = command_cast<BCI_IsProcessGame>(cmd);
        if (!game || game->answer() != qint32(game->processId() * 2))
            return;
        const qint64 sent = m_sentAt[game->processId() % m_sentAt.size()];
        m_latencies.push_back(double(clock().nsecsElapsed() - sent) / 1000.0);
        --m_outstanding;
        ++m_replies;
        m_loop.quit();
    }

private:
    QEventLoop m_loop;
    std::vector<qint64> m_sentAt = std::vector<qint64>(4096);
    std::vector<double> m_latencies;
    quint32 m_nextId = 1;
    int m_outstanding = 0;
    qint64 m_replies = 0;
};

class TransportDriver : public Driver
{
    Q_OBJECT
public:
    TransportDriver() : m_client(CreateServiceIO(false))
    {
        m_client->SetName("benchmark");
        connect(m_client, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
                SLOT(OnReply(BaseCommandPtr)));
    }
    ~TransportDriver() override { m_client->Release(); }

protected:
    void post(const BaseCommandPtr& cmd) override { m_client->SendCommand(cmd, RequestTimeoutMS); }

private slots:
    void OnReply(BaseCommandPtr cmd)
    {
        if (m_client->RetrieveCommand(&cmd) == 0)
            replied(cmd);
    }

private:
    ServiceIO* m_client;
};

class RawDriver : public Driver
{
    Q_OBJECT
public:
    explicit RawDriver(quint16 port)
    {
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        m_socket.waitForConnected(5000);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            BaseCommandPtr cmd;
            while (BaseCommand::ReadCommand(&m_socket, &cmd) == 0)
                replied(cmd);
        });
    }

protected:
    void post(const BaseCommandPtr& cmd) override
    {
        BaseCommand::WriteCommand(cmd.data(), &m_socket);
    }

private:
    QTcpSocket m_socket;
};

// The set-ups, made on first use and kept for the whole run.
struct Setup
{
    std::unique_ptr<QProcess> child;
    ServiceIO* server = nullptr;
    std::unique_ptr<EchoOwner> echo;
    std::unique_ptr<RawEcho> rawEcho;
    std::unique_ptr<Driver> driver;

    ~Setup()
    {
        driver.reset();
        echo.reset();
        if (server)
            server->Release();
        if (child) {
            child->kill();
            child->waitForFinished(5000);
        }
    }
};

std::map<std::string, std::unique_ptr<Setup>>& setups()
{
    static std::map<std::string, std::unique_ptr<Setup>> all;
    return all;
}

std::unique_ptr<QProcess> startChild(const char* mode, quint16 port)
{
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("BWC_PORT", QString::number(port));
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), {"--serve", mode});
    if (!child->waitForReadyRead(10000) || !child->readLine().startsWith("ready"))
        return nullptr;
    return child;
}

Driver* driverFor(bool transport, bool crossProcess)
{
    const std::string key =
        std::string(transport ? "transport" : "raw") + (crossProcess ? "/processes" : "/process");
    std::unique_ptr<Setup>& setup = setups()[key];
    if (setup)
        return setup->driver.get();
    setup = std::make_unique<Setup>();
    const quint16 port = freePort();
    qputenv("BWC_PORT", QByteArray::number(port));
    if (crossProcess) {
        setup->child = startChild(transport ? "transport" : "raw", port);
        if (!setup->child)
            return nullptr;
    } else if (transport) {
        setup->server = CreateServiceIO(true);
        setup->echo = std::make_unique<EchoOwner>(setup->server);
    } else {
        setup->rawEcho = std::make_unique<RawEcho>(port);
    }
    if (transport)
        setup->driver = std::make_unique<TransportDriver>();
    else
        setup->driver = std::make_unique<RawDriver>(port);
    // The first round trip also waits for the connection and the handshake.
    setup->driver->send();
    setup->driver->waitForReply();
    setup->driver->latencies().clear();
    return setup->driver.get();
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

void RoundTrips(benchmark::State& state, bool transport, bool crossProcess)
{
    Driver* driver = driverFor(transport, crossProcess);
    if (!driver) {
        state.SkipWithError("could not start the set-up");
        return;
    }
    const int depth = int(state.range(0));
    driver->latencies().clear();
    const qint64 before = driver->replies();
    for (auto _ : state) {
        while (driver->outstanding() < depth)
            driver->send();
        driver->waitForReply();
    }
    // One pass may bring many replies: the rate counts replies, not passes.
    state.SetItemsProcessed(driver->replies() - before);
    // The clock stopped with the loop; the stragglers are not timed.
    while (driver->outstanding() > 0)
        driver->waitForReply();
    state.counters["p50_us"] = percentile(driver->latencies(), 0.50);
    state.counters["p99_us"] = percentile(driver->latencies(), 0.99);
}

// The console table, followed by each transport figure over the bare-socket
// baseline measured in the same run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions, the medians stand for the benchmark.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || !(median || run.run_type == Run::RT_Iteration))
                continue;
            Figures& figures = m_figures[run.run_name.function_name + "/" + run.run_name.args];
            if (figures.fromMedian && !median)
                continue;
            figures.fromMedian = median;
            const auto value = [&](const char* name) {
                const auto it = run.counters.find(name);
                return it == run.counters.end() ? 0.0 : double(it->second);
            };
            figures.rate = value("items_per_second");
            figures.p50 = value("p50_us");
            figures.p99 = value("p99_us");
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\ntransport / bare socket      rate    p50 latency    p99 latency\n");
        for (const auto& [name, transport] : m_figures) {
            const auto at = name.find("transport_");
            if (at == std::string::npos)
                continue;
            std::string baselineName = name;
            baselineName.replace(at, 10, "raw_");
            const auto baseline = m_figures.find(baselineName);
            if (baseline == m_figures.end() || transport.rate <= 0 || baseline->second.p50 <= 0)
                continue;
            std::printf("%-28s %5.2fx slower %6.2fx %13.2fx\n", name.substr(at + 10).c_str(),
                        baseline->second.rate / transport.rate,
                        transport.p50 / baseline->second.p50, transport.p99 / baseline->second.p99);
        }
    }

private:
    struct Figures
    {
        double rate = 0;
        double p50 = 0;
        double p99 = 0;
        bool fromMedian = false;
    };
    std::map<std::string, Figures> m_figures;
};

int serve(const char* mode)
{
    const quint16 port = quint16(qEnvironmentVariableIntValue("BWC_PORT"));
    std::unique_ptr<RawEcho> raw;
    ServiceIO* server = nullptr;
    std::unique_ptr<EchoOwner> echo;
    if (qstrcmp(mode, "raw") == 0) {
        raw = std::make_unique<RawEcho>(port);
    } else {
        server = CreateServiceIO(true);
        if (!server)
            return 1;
        echo = std::make_unique<EchoOwner>(server);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int result = QCoreApplication::exec();
    echo.reset();
    if (server)
        server->Release();
    return result;
}

} // namespace

BENCHMARK_CAPTURE(RoundTrips, raw_one_process, false, false)->Arg(1)->Arg(100)->UseRealTime();
BENCHMARK_CAPTURE(RoundTrips, transport_one_process, true, false)->Arg(1)->Arg(100)->UseRealTime();
BENCHMARK_CAPTURE(RoundTrips, raw_two_processes, false, true)->Arg(1)->Arg(100)->UseRealTime();
BENCHMARK_CAPTURE(RoundTrips, transport_two_processes, true, true)->Arg(1)->Arg(100)->UseRealTime();

int main(int argc, char** argv)
{
    // The transport's debug chatter would dominate the output.
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--serve") == 0)
        return serve(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    setups().clear();
    return 0;
}

#include "bench_transport.moc"
