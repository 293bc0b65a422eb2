// The bandwidth bar on its own: a shown parent 406 pixels wide stands in for
// a row's bar area, so one pixel is (1,500,000 - 8) / 406 = 3694.56 bps.

#include "bandwidthbar.h"

#include <QLocale>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestBandwidthBar : public QObject
{
    Q_OBJECT

    QWidget* m_parent = nullptr;
    BandwidthBar* m_bar = nullptr;

private slots:
    // Rates are shown with the user's digit grouping.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"Recursive repaint"_s));
        m_parent = new QWidget;
        m_parent->setFixedSize(406, 60);
        m_bar = new BandwidthBar(u"Up"_s, m_parent);
        m_parent->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_parent));
        m_bar->setParentSize(406, 60);
    }

    void cleanup() { delete m_parent; }

    void drag_data()
    {
        QTest::addColumn<QString>("grab"); // what the press lands on
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("width");
        QTest::addColumn<quint32>("limit");

        QTest::newRow("left of the bar") << "bar" << -50 << 1 << 8u;
        QTest::newRow("x = 2") << "bar" << 2 << 2 << 7389u;
        QTest::newRow("middle") << "bar" << 200 << 200 << 738912u;
        QTest::newRow("last pixel before the edge") << "bar" << 400 << 400 << 1477824u;
        QTest::newRow("edge reached") << "bar" << 401 << 400 << 1500000u;
        QTest::newRow("far right") << "bar" << 5000 << 400 << 1500000u;
        // The arrows stand for the bar's end: a press on either starts a drag.
        QTest::newRow("left arrow") << "leftArrow" << 100 << 100 << 369456u;
        QTest::newRow("right arrow") << "rightArrow" << 100 << 100 << 369456u;
        // A click at x, in the grip or left of it, reports the unchanged limit.
        QTest::newRow("click in the grip") << "click" << 197 << 199 << 738912u;
        QTest::newRow("click left of the grip") << "click" << 10 << 199 << 738912u;
        // Unselected rows turn tracking off: nothing moves, nothing is told.
        QTest::newRow("without tracking") << "untracked" << 100 << 199 << 738912u;
    }

    void drag()
    {
        QFETCH(QString, grab);
        QFETCH(int, x);
        QFETCH(int, width);
        QFETCH(quint32, limit);
        m_bar->setLimit(738912); // 199 pixels, so the right arrow has room
        m_bar->setMouseTracking(grab != "untracked"_L1);
        auto* arrow = m_parent->findChild<QFrame*>(grab);
        QVERIFY(!arrow || arrow->isVisible());
        QWidget* target = arrow ? arrow : static_cast<QWidget*>(m_bar);
        const QPoint at = arrow ? QPoint(2, 2) : QPoint(m_bar->width() - 10, 5);
        QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);

        if (grab == "click"_L1) {
            QTest::mouseClick(m_bar, Qt::LeftButton, {}, QPoint(x, 5));
        } else {
            QTest::mousePress(target, Qt::LeftButton, {}, at);
            QCOMPARE(m_bar->isDragging(), m_bar->hasMouseTracking());
            QTest::mouseMove(target, at);
            QTest::mouseMove(m_bar, QPoint(x, 5));
            QTest::mouseRelease(m_bar, Qt::LeftButton, {}, QPoint(x, 5));
        }

        QCOMPARE(m_bar->width(), width);
        QCOMPARE(m_bar->limit(), limit);
        QVERIFY(!m_bar->isDragging());
        QCOMPARE(done.count(), int(m_bar->hasMouseTracking()));
        if (!done.isEmpty())
            QCOMPARE(done.at(0).at(1).value<quint32>(), limit);
    }

    // A drag goes on when the row is unselected under it or the service's
    // limit arrives meanwhile, and its release reports what the user dragged
    // to; only hiding the bar (its row removed or hidden) ends it with the old
    // limit. Later moves and clicks without tracking set nothing.
    void dragEnds_data()
    {
        QTest::addColumn<bool>("hide");
        QTest::newRow("released untracked") << false;
        QTest::newRow("hidden") << true;
    }
    void dragEnds()
    {
        QFETCH(bool, hide);
        m_bar->setLimit(738912);
        QSignalSpy done(m_bar, &BandwidthBar::mouseMoveDone);
        QTest::mousePress(m_bar, Qt::LeftButton, {}, QPoint(m_bar->width() - 5, 5));
        QTest::mouseMove(m_bar, QPoint(60, 5));
        QVERIFY(m_bar->isDragging());
        const quint32 dragged = m_bar->limit();
        QVERIFY(dragged < 738912u);
        m_bar->setMouseTracking(false);
        m_bar->setLimit(100000);
        QCOMPARE(m_bar->limit(), dragged);
        if (hide) {
            m_parent->hide();
            m_parent->show();
        }
        QTest::mouseRelease(m_bar, Qt::LeftButton, {}, QPoint(60, 5));
        QVERIFY(!m_bar->isDragging());
        QVERIFY(QWidget::mouseGrabber() != m_bar);
        const quint32 limit = hide ? 738912u : dragged;
        QCOMPARE(m_bar->limit(), limit);
        QTest::mouseMove(m_bar, QPoint(30, 5));
        QTest::mouseClick(m_bar, Qt::LeftButton, {}, QPoint(30, 5));
        QCOMPARE(m_bar->limit(), limit);
        QCOMPARE(done.count(), hide ? 0 : 1);
    }

    void fillNeverPassesLimit_data()
    {
        QTest::addColumn<quint32>("limit");
        QTest::addColumn<quint32>("current");
        QTest::addColumn<int>("fill"); // -1: the bar's whole width

        QTest::newRow("below the limit") << 1500000u << 150000u << 40;
        QTest::newRow("above the limit") << 750000u << 1000000u << -1;
        QTest::newRow("far above the scale") << 369456u << 0xFFFFFFFFu << -1;
    }

    void fillNeverPassesLimit()
    {
        QFETCH(quint32, limit);
        QFETCH(quint32, current);
        QFETCH(int, fill);
        m_bar->setLimit(limit);
        m_bar->setCurrent(current);
        QCOMPARE(m_bar->value(), fill < 0 ? m_bar->width() : fill);
    }

    void rateTexts_data()
    {
        QTest::addColumn<quint32>("bps");
        QTest::addColumn<quint32>("unit");
        QTest::addColumn<QString>("text");

        QTest::newRow("MBps fraction") << 1500000u << 0u << "0.19 MBps";
        QTest::newRow("Mbps fraction") << 1500000u << 1u << "1.50 Mbps";
        QTest::newRow("KBps grouped") << 12000000u << 2u << "1,500 KBps";
        QTest::newRow("Kbps fraction under 0.01") << 12005u << 3u << "12 Kbps";
        QTest::newRow("Kbps grouped decimals") << 1234560u << 3u << "1,234.56 Kbps";
        QTest::newRow("Bps fraction") << 12004u << 4u << "1,500.50 Bps";
        QTest::newRow("bps") << 1234567u << 5u << "1,234,567 bps";
        QTest::newRow("unknown unit") << 5000u << 6u << "0 ";
    }

    void rateTexts()
    {
        QFETCH(quint32, bps);
        QFETCH(quint32, unit);
        QFETCH(QString, text);
        m_bar->setUnit(unit);
        m_bar->setLimit(bps);
        m_bar->setCurrent(bps);
        QCOMPARE(m_bar->currentLabel()->text(), "Current Up: "_L1 + text);
        QCOMPARE(m_bar->maxLabel()->text(), "Max Up: "_L1 + text);
        QCOMPARE(BandwidthBar::rateText(bps, unit), text);
    }

    // Unlimited and blocked bars show the full scale and cannot be dragged; a
    // blocked one says so in its middle, with no maximum.
    void modes()
    {
        const QLabel* current = m_bar->currentLabel();
        for (quint32 mode : {1u, 2u}) {
            m_bar->setLimit(600000);
            m_bar->setCurrent(400000);
            m_bar->setMode(mode);

            QVERIFY(!m_bar->isEnabled());
            QCOMPARE(current->text(), mode == 1 ? u"Current Up: 0 KBps"_s : u"Blocked"_s);
            QCOMPARE(m_bar->maxLabel()->text(), mode == 1 ? u"Max Up: 187.50 KBps"_s : QString());
            QCOMPARE(m_bar->limit(), 1500000u);
            QCOMPARE(m_bar->width(), 400);
            QCOMPARE(m_bar->value(), 0);
            QTest::mouseMove(m_bar->leftArrow(), QPoint(1, 1));
            QVERIFY(m_bar->leftArrow()->isHidden() && m_bar->rightArrow()->isHidden());
            if (mode == 2)
                QCOMPARE(current->x(), m_bar->width() / 2 - current->width() / 2);

            m_bar->setMode(0);
            QVERIFY(m_bar->isEnabled() && m_bar->leftArrow()->isVisible());
        }
    }

    // The limit is a rate, not a width: when the row grows, the bar grows with it.
    void followsParentWidth()
    {
        m_bar->setLimit(750000);
        m_bar->setCurrent(150000);
        QCOMPARE(m_bar->width(), 203);

        m_parent->setFixedSize(812, 60);
        m_bar->setParentSize(812, 60);

        QCOMPARE(m_bar->width(), 406);
        QCOMPARE(m_bar->value(), 81);
        QCOMPARE(m_bar->limit(), 750000u);
    }
};

QTEST_MAIN(TestBandwidthBar)
#include "tst_bandwidthbar.moc"
