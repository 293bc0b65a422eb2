// The bandwidth bar on its own: a shown parent 406 pixels wide stands in for
// a row's bar area, so one pixel is (1,500,000 - 8) / 406 = 3694.56 bps.

#include "bandwidthbar.h"

#include <QLocale>
#include <QtTest>

class TestBandwidthBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void dragSetsLimit_data();
    void dragSetsLimit();
    void dragByArrow_data();
    void dragByArrow();
    void clickKeepsLimit_data();
    void clickKeepsLimit();
    void noDragWithoutTracking();
    void fillNeverPassesLimit_data();
    void fillNeverPassesLimit();
    void rateTexts_data();
    void rateTexts();
    void modes_data();
    void modes();
    void hiddenLabelsKeepArrows();
    void followsParentWidth();

private:
    void drag(QWidget* target, QPoint from, int toX);

    QWidget* m_parent = nullptr;
    BandwidthBar* m_bar = nullptr;
};

void TestBandwidthBar::initTestCase()
{
    // Rates are shown with the user's digit grouping.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestBandwidthBar::init()
{
    m_parent = new QWidget;
    m_parent->setFixedSize(406, 60);
    m_bar = new BandwidthBar(QStringLiteral("Up"), m_parent);
    m_bar->move(0, 4);
    m_parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
    m_bar->setParentSize(406, 60);
}

void TestBandwidthBar::cleanup()
{
    delete m_parent;
}

void TestBandwidthBar::drag(QWidget* target, QPoint from, int toX)
{
    QTest::mousePress(target, Qt::LeftButton, {}, from);
    QTest::mouseMove(m_bar, QPoint(toX, 5));
    QTest::mouseRelease(m_bar, Qt::LeftButton, {}, QPoint(toX, 5));
}

void TestBandwidthBar::dragSetsLimit_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("width");
    QTest::addColumn<quint32>("limit");

    QTest::newRow("left of the bar") << -50 << 1 << 8u;
    QTest::newRow("x = 1") << 1 << 1 << 8u;
    QTest::newRow("x = 2") << 2 << 2 << 7389u;
    QTest::newRow("middle") << 200 << 200 << 738912u;
    QTest::newRow("last pixel before the edge") << 400 << 400 << 1477824u;
    QTest::newRow("edge reached") << 401 << 400 << 1500000u;
    QTest::newRow("far right") << 5000 << 400 << 1500000u;
}

void TestBandwidthBar::dragSetsLimit()
{
    QFETCH(int, x);
    QFETCH(int, width);
    QFETCH(quint32, limit);
    QCOMPARE(m_bar->width(), 400);
    QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);

    drag(m_bar, QPoint(m_bar->width() - 10, 5), x);

    QCOMPARE(m_bar->width(), width);
    QCOMPARE(m_bar->maximum(), width);
    QCOMPARE(m_bar->limit(), limit);
    QVERIFY(!m_bar->isDragging());
    QCOMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).value<BandwidthBar*>(), m_bar);
    QCOMPARE(done.at(0).at(1).value<quint32>(), limit);
}

void TestBandwidthBar::dragByArrow_data()
{
    QTest::addColumn<QString>("arrow");
    QTest::newRow("left arrow") << QStringLiteral("leftArrow");
    QTest::newRow("right arrow") << QStringLiteral("rightArrow");
}

// The arrows stand for the bar's end: a press on either starts a drag.
void TestBandwidthBar::dragByArrow()
{
    QFETCH(QString, arrow);
    m_bar->setLimit(738912); // 199 pixels, so the right arrow has room
    auto* frame = m_parent->findChild<QFrame*>(arrow);
    QVERIFY(frame);
    QVERIFY(frame->isVisible());
    QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);

    QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(m_bar->isDragging());
    QTest::mouseMove(frame, QPoint(2, 2)); // mapped onto the bar's end
    QTest::mouseMove(m_bar, QPoint(100, 5));
    QTest::mouseRelease(m_bar, Qt::LeftButton, {}, QPoint(100, 5));

    QCOMPARE(m_bar->width(), 100);
    QCOMPARE(m_bar->limit(), 369456u);
    QCOMPARE(done.count(), 1);
}

void TestBandwidthBar::clickKeepsLimit_data()
{
    QTest::addColumn<int>("x");
    QTest::newRow("in the grip") << 390;
    QTest::newRow("left of the grip") << 10;
}

void TestBandwidthBar::clickKeepsLimit()
{
    QFETCH(int, x);
    m_bar->setLimit(1000000);
    const int width = m_bar->width();
    QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);

    QTest::mouseClick(m_bar, Qt::LeftButton, {}, QPoint(std::min(x, width - 2), 5));

    QCOMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(1).value<quint32>(), 1000000u);
    QCOMPARE(m_bar->width(), width);
}

void TestBandwidthBar::noDragWithoutTracking()
{
    m_bar->setMouseTracking(false);
    QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);

    drag(m_bar, QPoint(m_bar->width() - 10, 5), 100);

    QCOMPARE(m_bar->width(), 400);
    QCOMPARE(m_bar->limit(), 1500000u);
    QCOMPARE(done.count(), 0);
}

void TestBandwidthBar::fillNeverPassesLimit_data()
{
    QTest::addColumn<quint32>("limit");
    QTest::addColumn<quint32>("current");
    QTest::addColumn<int>("fill"); // -1: the bar's whole width

    QTest::newRow("below the limit") << 1500000u << 150000u << 40;
    QTest::newRow("idle") << 750000u << 0u << 0;
    QTest::newRow("above the limit") << 750000u << 1000000u << -1;
    QTest::newRow("far above the scale") << 369456u << 0xFFFFFFFFu << -1;
    QTest::newRow("smallest bar") << 8u << 500000u << -1;
}

void TestBandwidthBar::fillNeverPassesLimit()
{
    QFETCH(quint32, limit);
    QFETCH(quint32, current);
    QFETCH(int, fill);
    m_bar->setLimit(limit);
    m_bar->setCurrent(current);

    QCOMPARE(m_bar->value(), fill < 0 ? m_bar->width() : fill);
    QVERIFY(m_bar->value() <= m_bar->maximum());
    QCOMPARE(m_bar->current(), current);
}

void TestBandwidthBar::rateTexts_data()
{
    QTest::addColumn<quint32>("bps");
    QTest::addColumn<quint32>("unit");
    QTest::addColumn<QString>("text");

    QTest::newRow("MBps fraction") << 1500000u << 0u << "0.19 MBps";
    QTest::newRow("MBps whole") << 8000000u << 0u << "1 MBps";
    QTest::newRow("MBps fraction under 0.01") << 8040000u << 0u << "1 MBps";
    QTest::newRow("Mbps fraction") << 1500000u << 1u << "1.50 Mbps";
    QTest::newRow("KBps grouped") << 12000000u << 2u << "1,500 KBps";
    QTest::newRow("KBps fraction") << 12000u << 2u << "1.50 KBps";
    QTest::newRow("Kbps fraction under 0.01") << 12005u << 3u << "12 Kbps";
    QTest::newRow("Kbps two decimals") << 12340u << 3u << "12.34 Kbps";
    QTest::newRow("Kbps grouped decimals") << 1234560u << 3u << "1,234.56 Kbps";
    QTest::newRow("Bps fraction") << 12004u << 4u << "1,500.50 Bps";
    QTest::newRow("Bps whole") << 16000u << 4u << "2,000 Bps";
    QTest::newRow("bps") << 1234567u << 5u << "1,234,567 bps";
    QTest::newRow("unknown unit") << 5000u << 6u << "0 ";
}

void TestBandwidthBar::rateTexts()
{
    QFETCH(quint32, bps);
    QFETCH(quint32, unit);
    QFETCH(QString, text);
    m_bar->setUnit(unit);
    m_bar->setLimit(bps);
    m_bar->setCurrent(bps);

    QCOMPARE(m_bar->currentLabel()->text(), QStringLiteral("Current Up: ") + text);
    QCOMPARE(m_bar->maxLabel()->text(), QStringLiteral("Max Up: ") + text);
    QCOMPARE(BandwidthBar::rateText(bps, unit), text);
}

void TestBandwidthBar::modes_data()
{
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("currentText");
    QTest::addColumn<QString>("maxText");

    QTest::newRow("normal") << 0u << true << "Current Up: 50 KBps"
                            << "Max Up: 75 KBps";
    QTest::newRow("unlimited") << 1u << false << "Current Up: 0 KBps"
                               << "Max Up: 187.50 KBps";
    QTest::newRow("blocked") << 2u << false << "Blocked"
                             << "";
}

void TestBandwidthBar::modes()
{
    QFETCH(quint32, mode);
    QFETCH(bool, enabled);
    QFETCH(QString, currentText);
    QFETCH(QString, maxText);
    m_bar->setLimit(600000);
    m_bar->setCurrent(400000);

    m_bar->setMode(mode);

    QCOMPARE(m_bar->isEnabled(), enabled);
    QCOMPARE(m_bar->currentLabel()->text(), currentText);
    QCOMPARE(m_bar->maxLabel()->text(), maxText);
    if (mode == 0) {
        QCOMPARE(m_bar->limit(), 600000u);
        return;
    }
    // Unlimited and blocked bars show the full scale and cannot be dragged.
    QCOMPARE(m_bar->limit(), 1500000u);
    QCOMPARE(m_bar->width(), 400);
    QCOMPARE(m_bar->value(), 0);
    QTest::mouseMove(m_bar->leftArrow(), QPoint(1, 1));
    QVERIFY(m_bar->leftArrow()->isHidden());
    QVERIFY(m_bar->rightArrow()->isHidden());
    if (mode == 2) {
        const QLabel* label = m_bar->currentLabel();
        QCOMPARE(label->x(), m_bar->width() / 2 - label->width() / 2);
    }

    m_bar->setMode(0);
    QVERIFY(m_bar->isEnabled());
    QVERIFY(m_bar->leftArrow()->isVisible());
}

void TestBandwidthBar::hiddenLabelsKeepArrows()
{
    m_bar->setLimit(738912);
    m_bar->setLabelsVisible(false);
    QVERIFY(m_bar->currentLabel()->isHidden());
    QVERIFY(m_bar->maxLabel()->isHidden());
    QVERIFY(m_bar->leftArrow()->isVisible());
    QVERIFY(m_bar->rightArrow()->isVisible());

    m_bar->setLabelsVisible(true);
    QVERIFY(m_bar->currentLabel()->isVisible());
    QVERIFY(m_bar->maxLabel()->isVisible());
}

// The limit is a rate, not a width: when the row grows, the bar grows with it.
void TestBandwidthBar::followsParentWidth()
{
    m_bar->setLimit(750000);
    m_bar->setCurrent(150000);
    QCOMPARE(m_bar->width(), 203);

    m_parent->setFixedSize(812, 60);
    m_bar->setParentSize(812, 60);

    QCOMPARE(m_bar->width(), 406);
    QCOMPARE(m_bar->value(), 81);
    QCOMPARE(m_bar->height(), 60 / 2 - 4);
    QCOMPARE(m_bar->limit(), 750000u);
}

QTEST_MAIN(TestBandwidthBar)
#include "tst_bandwidthbar.moc"
