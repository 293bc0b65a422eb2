#include "datasource.h"
#include "hostapplication.h"
#include "stripchart.h"

#include <QImage>
#include <QTest>

#include <cstdlib>

namespace {

const QColor orange(232, 151, 0);
const QColor green(90, 155, 2);

bool near(QRgb pixel, const QColor& color)
{
    return std::abs(qRed(pixel) - color.red()) <= 40 &&
           std::abs(qGreen(pixel) - color.green()) <= 40 &&
           std::abs(qBlue(pixel) - color.blue()) <= 40;
}

// Mean row of the pixels of column x drawn in the line's colour; -1 if none.
double lineRow(const QImage& image, int x, const QColor& color)
{
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        if (near(image.pixel(x, y), color)) {
            sum += y;
            ++count;
        }
    }
    return count ? sum / count : -1.0;
}

// A 200x100 chart of 11 samples: sample i sits at x = 20 * i once the chart is
// full, and a value v of range 0..high at y = 100 - 100 * v / high.
struct Fixture
{
    StripChart chart;
    DataSourceHandle source = DataSourceHandle::create(QStringLiteral("System.Network.Tx"));

    explicit Fixture(double high, const QVariantList& values = QVariantList(11, 60.0))
    {
        chart.resize(200, 100);
        chart.setHistoryLength(11);
        chart.setRange(0, 0.0, high);
        chart.setRange(1, 0.0, 1000.0); // only axis 0 exists
        chart.addDataSource(source);
        chart.setSourceColor(source, orange);
        for (const QVariant& value : values)
            source->publish(value);
    }
    QImage image() { return chart.grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace

class TestStripChart : public QObject
{
    Q_OBJECT
private slots:
    void lineFollowsSamples_data()
    {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<double>("high");
        QTest::addColumn<int>("column");
        QTest::addColumn<double>("row");

        QVariantList ramp;
        for (int i = 0; i <= 10; ++i)
            ramp << i * 10.0;
        const QVariantList stepUp = QVariantList(11, 20.0) + QVariantList(5, 80u);

        QTest::newRow("flat") << QVariantList(11, 60.0) << 100.0 << 100 << 40.0;
        QTest::newRow("ramp middle") << ramp << 100.0 << 100 << 50.0;
        QTest::newRow("ramp quarter") << ramp << 100.0 << 40 << 80.0;
        QTest::newRow("ramp on a larger range") << ramp << 200.0 << 100 << 75.0;
        QTest::newRow("empty range widened by one") << QVariantList(11, 0.5) << 0.0 << 100 << 50.0;
        QTest::newRow("above the range clamps to the top")
            << QVariantList(11, 150.0) << 100.0 << 100 << 0.5;
        QTest::newRow("scrolled: old part") << stepUp << 100.0 << 40 << 80.0;
        QTest::newRow("scrolled: new part") << stepUp << 100.0 << 180 << 20.0;
        QTest::newRow("partly filled: newest at the right")
            << QVariantList(3, 50.0) << 100.0 << 180 << 50.0;
        QTest::newRow("partly filled: nothing on the left")
            << QVariantList(3, 50.0) << 100.0 << 40 << -1.0;
        QTest::newRow("not numbers are skipped")
            << QVariantList(11, 60.0) + QVariantList{"garbage", QVariant()} << 100.0 << 180 << 40.0;
    }
    void lineFollowsSamples()
    {
        QFETCH(QVariantList, values);
        QFETCH(double, high);
        QFETCH(int, column);
        QFETCH(double, row);

        Fixture f(high, values);
        const double found = lineRow(f.image(), column, orange);
        if (row < 0)
            QCOMPARE(found, -1.0);
        else
            QVERIFY2(found >= 0 && std::abs(found - row) <= 1.5,
                     qPrintable(QStringLiteral("line at row %1, expected %2").arg(found).arg(row)));
    }

    void backgroundGridAndFill()
    {
        Fixture f(100.0); // a line at row 40
        const QImage image = f.image();
        QCOMPARE(QColor(image.pixel(100, 10)), QColor(Qt::white));
        const QColor grid(image.pixel(100, 25));
        QVERIFY(grid != QColor(Qt::white));
        QVERIFY(grid.lightness() > 160); // light, so the lines stand out over it
        const QColor below(image.pixel(100, 70));
        QVERIFY(below != QColor(Qt::white));
        QVERIFY(!near(below.rgb(), orange));
        QVERIFY(below.red() > below.blue()); // a tint of the line's colour
    }

    void sourcesKeepTheirColours()
    {
        Fixture f(100.0, {});
        // A source with history before it is added shows that history at once.
        DataSourceHandle rx = DataSourceHandle::create(QStringLiteral("System.Network.Rx"));
        for (int i = 0; i < 11; ++i)
            rx->publish(75u);
        f.chart.addDataSource(rx);
        f.chart.setSourceColor(rx, green);
        f.chart.addDataSource(rx); // a second add changes nothing
        QCOMPARE(f.chart.sourceCount(), 2);
        for (int i = 0; i < 11; ++i)
            f.source->publish(25u);

        const QImage image = f.image();
        QVERIFY(std::abs(lineRow(image, 100, orange) - 75.0) <= 1.5);
        QVERIFY(std::abs(lineRow(image, 100, green) - 25.0) <= 1.5);
        // The lower line runs under the upper one's fill and keeps its own colour.
        QCOMPARE(QColor(image.pixel(100, 75)), orange);
    }

    void hostMakesTheGraphByIdentifier()
    {
        HostApplication host;
        QScopedPointer<IGraphWidget> graph(host.createGraphWidget(
            QUuid(QStringLiteral("{B3F0700C-7C76-426c-B10C-7663B5575EC5}")), nullptr));
        QVERIFY(qobject_cast<StripChart*>(graph.data()));
        QVERIFY(!graph->parent());
        QVERIFY(!host.createGraphWidget(QUuid::createUuid(), nullptr));
        QVERIFY(!host.createGraphWidget(QUuid(), nullptr));
    }
};

QTEST_MAIN(TestStripChart)
#include "tst_stripchart.moc"
