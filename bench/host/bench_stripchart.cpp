// Cost of one repaint of the bandwidth graph as the panels use it (480x96,
// two sources, three minutes of history), against two baselines measured in
// the same run: an empty chart (background and grid only) and a bare fill of
// the same image. The graph repaints once per sample, about once a second.
#include "datasource.h"
#include "stripchart.h"

#include <QApplication>
#include <QImage>
#include <QtMath>

#include <benchmark/benchmark.h>

namespace {

void paint(benchmark::State& state, StripChart& chart)
{
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        chart.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_BareFill(benchmark::State& state)
{
    QImage image(480, 96, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_EmptyChart(benchmark::State& state)
{
    StripChart chart;
    chart.resize(480, 96);
    paint(state, chart);
}

void BM_FullChart(benchmark::State& state)
{
    StripChart chart;
    chart.resize(480, 96);
    chart.setRange(0, 0.0, 2000000.0);
    DataSourceHandle tx = DataSourceHandle::create(QStringLiteral("Tx"));
    DataSourceHandle rx = DataSourceHandle::create(QStringLiteral("Rx"));
    chart.addDataSource(tx);
    chart.setSourceColor(tx, QColor(232, 151, 0));
    chart.addDataSource(rx);
    chart.setSourceColor(rx, QColor(90, 155, 2));
    for (int i = 0; i < StripChart::DefaultHistoryLength; ++i) {
        tx->publish(uint(400000 + 300000 * qSin(i / 9.0)));
        rx->publish(uint(1200000 + 500000 * qSin(i / 15.0)));
    }
    paint(state, chart);
}

} // namespace

BENCHMARK(BM_BareFill);
BENCHMARK(BM_EmptyChart);
BENCHMARK(BM_FullChart);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
