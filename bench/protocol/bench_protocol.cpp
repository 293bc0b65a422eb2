// Writing and reading the two largest messages the module meets, against a
// plain copy of the same bytes as the baseline.

#include "commands.h"
#include "framecodec.h"

#include <QBuffer>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

BaseCommandPtr statsReply(int lines)
{
    auto* stats = new BCI_BWCStats;
    QList<BWCStatEntryPtr> list;
    for (int i = 0; i < lines; ++i) {
        BWCStatEntryPtr line(new BWCStatEntry);
        line->id = QStringLiteral("app-%1").arg(i, 4, 10, QLatin1Char('0'));
        line->sentRate = quint32(i * 1000);
        line->receivedRate = quint32(i * 7000);
        list.append(line);
    }
    stats->setStats(list);
    return BaseCommandPtr(stats);
}

BWCEntryPtr sampleEntry(int i)
{
    BWCEntryPtr entry(new BWCEntry);
    entry->id = QStringLiteral("{%1-app}").arg(i, 8, 10, QLatin1Char('0'));
    entry->idList = {quint32(1000 + i), quint32(2000 + i)};
    entry->uploadMax = -1;
    entry->downloadMax = -2;
    entry->priority = 2;
    entry->path = QStringLiteral("/usr/lib/application-%1/bin/application-%1").arg(i);
    return entry;
}

// As many entries as fit one frame of at most 100000 bytes.
BaseCommandPtr fullEnumReply()
{
    auto* apps = new BCI_BWCEnumApps;
    QList<BWCEntryPtr> list;
    QByteArray frame;
    for (int i = 0;; ++i) {
        list.append(sampleEntry(i));
        apps->setApps(list);
        FrameCodec::encode(apps, &frame);
        if (frame.size() > qsizetype(BaseCommand::MaxFrameLength)) {
            list.removeLast();
            apps->setApps(list);
            break;
        }
    }
    return BaseCommandPtr(apps);
}

void report(benchmark::State& state, qsizetype frameBytes)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * frameBytes);
    state.counters["frame_bytes"] = double(frameBytes);
}

void writeFrame(benchmark::State& state, const BaseCommandPtr& command)
{
    QByteArray frame;
    for (auto _ : state) {
        FrameCodec::encode(command.data(), &frame);
        benchmark::DoNotOptimize(frame.data());
    }
    report(state, frame.size());
}

void readFrame(benchmark::State& state, const BaseCommandPtr& command)
{
    QByteArray frame;
    FrameCodec::encode(command.data(), &frame);
    for (auto _ : state) {
        // Through a device, as the transport reads a socket.
        QBuffer buffer(&frame);
        buffer.open(QIODevice::ReadOnly);
        BaseCommandPtr read;
        BaseCommand::ReadCommand(&buffer, &read);
        benchmark::DoNotOptimize(read.data());
    }
    report(state, frame.size());
}

void copyFrame(benchmark::State& state, const BaseCommandPtr& command)
{
    QByteArray frame;
    FrameCodec::encode(command.data(), &frame);
    QByteArray target(frame.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(target.data(), frame.constData(), size_t(frame.size()));
        benchmark::ClobberMemory();
    }
    report(state, frame.size());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const BaseCommandPtr stats = statsReply(1000);
    const BaseCommandPtr apps = fullEnumReply();
    benchmark::RegisterBenchmark("write/BWCStats_1000", writeFrame, stats);
    benchmark::RegisterBenchmark("read/BWCStats_1000", readFrame, stats);
    benchmark::RegisterBenchmark("copy/BWCStats_1000", copyFrame, stats);
    benchmark::RegisterBenchmark("write/BWCEnumApps_full", writeFrame, apps);
    benchmark::RegisterBenchmark("read/BWCEnumApps_full", readFrame, apps);
    benchmark::RegisterBenchmark("copy/BWCEnumApps_full", copyFrame, apps);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
