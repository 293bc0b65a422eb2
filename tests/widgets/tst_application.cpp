// The application row: its signals with and without notification, the
// priority and block rules, dragging a selected row's bars, selection by
// click, the wheel over its combo boxes, and its lifetime through AppPtr.

#include "application.h"
#include "bandwidthbar.h"
#include "kcombobox.h"

#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

// Receives the row's signals through connections made by signature strings,
// queued, as the view makes them.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<AppPtr> selected;
    QList<quint32> uploads;

public slots:
    void onSelect(AppPtr app) { selected.append(app); }
    void onUploadMax(AppPtr app, quint32 bps)
    {
        selected.append(app);
        uploads.append(bps);
    }
};

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void appPtrOwnsRow();
    void signalsNeedNotify_data();
    void signalsNeedNotify();
    void highestPriorityUnblocks_data();
    void highestPriorityUnblocks();
    void invalidPriorityIgnored();
    void priorityImages_data();
    void priorityImages();
    void dragSelectedBar_data();
    void dragSelectedBar();
    void unselectedBarSelectsRow();
    void stringConnectionsQueued();
    void wheelScrollsList();
    void offline();
    void paintSettles_data();
    void paintSettles();

private:
    template <class T> T* child(const char* name) const
    {
        return m_row->findChild<T*>(QLatin1String(name));
    }
    void select();

    Application* m_row = nullptr;
    AppPtr m_ptr;
};

void TestApplication::init()
{
    m_row = new Application;
    m_ptr = m_row->appPtr();
    m_row->resize(782, 54);
    for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()})
        bar->setRateRange(8, 1500000);
    m_row->setPriority(2);
    m_row->setBlocked(false);
    m_row->setState(0);
    m_row->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_row));
}

void TestApplication::cleanup()
{
    QPointer<Application> row = m_row;
    m_ptr.clear();
    QTRY_VERIFY(row.isNull());
}

// Selects the row and waits for the paint that lays its bars out for dragging.
void TestApplication::select()
{
    m_row->setState(1);
    QTRY_VERIFY(m_row->uploadBar()->hasMouseTracking() && m_row->uploadBar()->labelsVisible());
}

void TestApplication::appPtrOwnsRow()
{
    QCOMPARE(m_row->appPtr().data(), m_row);
    QCOMPARE(m_row->appPtr(), m_ptr);

    QPointer<Application> other = new Application;
    other->appPtr().clear();
    QVERIFY(!other.isNull()); // deleted from the event loop, not at once
    QTRY_VERIFY(other.isNull());
}

void TestApplication::signalsNeedNotify_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<int>("appTypes");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("details");

    for (bool notify : {false, true}) {
        const int n = notify ? 1 : 0;
        const char* suffix = notify ? ", notifying" : ", silent";
        QTest::addRow("priority combo%s", suffix) << "priority combo" << notify << n << 0 << 0;
        QTest::addRow("firewall combo%s", suffix) << "firewall combo" << notify << 0 << n << 0;
        QTest::addRow("details button%s", suffix) << "details button" << notify << 0 << 0 << n;
        // A change from the view that moves a combo box runs its slot too.
        QTest::addRow("setBlocked%s", suffix) << "setBlocked" << notify << 0 << n << 0;
        QTest::addRow("setPriority%s", suffix) << "setPriority" << notify << n << 0 << 0;
    }
}

void TestApplication::signalsNeedNotify()
{
    QFETCH(QString, action);
    QFETCH(bool, notify);
    QFETCH(int, appTypes);
    QFETCH(int, blocks);
    QFETCH(int, details);
    select();
    m_row->setNotify(notify);
    QSignalSpy appType(m_row, &Application::appTypeChanged);
    QSignalSpy block(m_row, &Application::blockApp);
    QSignalSpy detail(m_row, &Application::showDetails);

    if (action == QLatin1String("priority combo"))
        child<QComboBox>("comboAppType")->setCurrentIndex(3);
    else if (action == QLatin1String("firewall combo"))
        child<QComboBox>("comboFirewall")->setCurrentIndex(1);
    else if (action == QLatin1String("details button"))
        QTest::mouseClick(child<QToolButton>("buttonDetails"), Qt::LeftButton);
    else if (action == QLatin1String("setBlocked"))
        m_row->setBlocked(true);
    else
        m_row->setPriority(3);

    QCOMPARE(appType.count(), appTypes);
    QCOMPARE(block.count(), blocks);
    QCOMPARE(detail.count(), details);
    if (appTypes) {
        QCOMPARE(appType.at(0).at(0).toInt(), 3);
        QCOMPARE(appType.at(0).at(1).value<AppPtr>(), m_ptr);
    }
    if (blocks) {
        QCOMPARE(block.at(0).at(0).toBool(), true);
        QCOMPARE(block.at(0).at(1).value<AppPtr>(), m_ptr);
    }
    if (details)
        QCOMPARE(detail.at(0).at(0).value<AppPtr>(), m_ptr);
    // The row changed itself whether or not it told anyone.
    if (action.contains(QLatin1String("priority")) || action == QLatin1String("setPriority"))
        QCOMPARE(m_row->priority(), 3u);
    if (blocks || action.contains(QLatin1String("irewall")) ||
        action == QLatin1String("setBlocked"))
        QVERIFY(m_row->isBlocked());
}

void TestApplication::highestPriorityUnblocks_data()
{
    QTest::addColumn<bool>("blockedBefore");
    QTest::newRow("allowed") << false;
    QTest::newRow("blocked") << true;
}

// The highest priority is never limited nor blocked, and the row says so to
// the view even before notification is on.
void TestApplication::highestPriorityUnblocks()
{
    QFETCH(bool, blockedBefore);
    m_row->setBlocked(blockedBefore);
    QSignalSpy block(m_row, &Application::blockApp);

    m_row->setPriority(0);

    QCOMPARE(block.count(), 1);
    QCOMPARE(block.at(0).at(0).toBool(), false);
    QCOMPARE(block.at(0).at(1).value<AppPtr>(), m_ptr);
    QVERIFY(!m_row->isBlocked());
    QCOMPARE(m_row->priority(), 0u);
    auto* firewall = child<QComboBox>("comboFirewall");
    QCOMPARE(firewall->currentIndex(), 0);
    QVERIFY(!firewall->isEnabled());
    for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()}) {
        QCOMPARE(bar->mode(), quint32(BandwidthBar::Unlimited));
        QVERIFY(!bar->isEnabled());
    }

    m_row->setPriority(1);
    QVERIFY(firewall->isEnabled());
    QCOMPARE(m_row->uploadBar()->mode(), quint32(BandwidthBar::Normal));
    QVERIFY(m_row->uploadBar()->isEnabled());
}

void TestApplication::invalidPriorityIgnored()
{
    m_row->setNotify(true);
    QSignalSpy appType(m_row, &Application::appTypeChanged);
    QSignalSpy block(m_row, &Application::blockApp);

    m_row->setPriority(4);
    m_row->setPriority(0xFFFFFFFF);

    QCOMPARE(m_row->priority(), 2u);
    QCOMPARE(child<QComboBox>("comboAppType")->currentIndex(), 2);
    QCOMPARE(appType.count(), 0);
    QCOMPARE(block.count(), 0);
}

void TestApplication::priorityImages_data()
{
    QTest::addColumn<quint32>("priority");
    QTest::addColumn<bool>("blocked");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("toolTip");

    for (quint32 p = 1; p < 4; ++p) {
        QTest::addRow("priority %u", p + 1)
            << p << false << QStringLiteral("skins/shinyblack/box_%1.png").arg(p + 1)
            << QStringLiteral("Priority: %1").arg(p + 1);
        QTest::addRow("priority %u, blocked", p + 1)
            << p << true << QStringLiteral("skins/shinyblack/blocked.png")
            << QStringLiteral("Application is Blocked.");
    }
    QTest::addRow("highest") << 0u << false << QStringLiteral("skins/shinyblack/box_1.png")
                             << QStringLiteral("Priority: 1");
}

void TestApplication::priorityImages()
{
    QFETCH(quint32, priority);
    QFETCH(bool, blocked);
    QFETCH(QString, image);
    QFETCH(QString, toolTip);
    const QImage expected(image);
    QVERIFY2(!expected.isNull(), qPrintable(image));

    m_row->setPriority(priority);
    m_row->setBlocked(blocked);

    auto* label = child<QLabel>("imageType");
    const QImage shown = label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown, expected.convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(label->toolTip(), toolTip);
}

void TestApplication::dragSelectedBar_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("upload") << true;
    QTest::newRow("download") << false;
}

// Drag results reach the view whether or not notification is on.
void TestApplication::dragSelectedBar()
{
    QFETCH(bool, upload);
    select();
    BandwidthBar* bar = upload ? m_row->uploadBar() : m_row->downloadBar();
    QSignalSpy up(m_row, &Application::uploadMaxChanged);
    QSignalSpy down(m_row, &Application::downloadMaxChanged);
    QSignalSpy selected(m_row, &Application::select);
    const int x = bar->parentWidget()->width() / 2;

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - 5, 5));
    QTest::mouseMove(bar, QPoint(x, 5));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, 5));

    QCOMPARE(bar->width(), x);
    QSignalSpy& spy = upload ? up : down;
    QCOMPARE(spy.count(), 1);
    QCOMPARE((upload ? down : up).count(), 0);
    QCOMPARE(spy.at(0).at(0).value<AppPtr>(), m_ptr);
    // Half the bar area is half the scale, in bits per second.
    QCOMPARE(spy.at(0).at(1).value<quint32>(), bar->limit());
    QVERIFY(qAbs(qint64(bar->limit()) - 750000) < 3000);
    QCOMPARE(selected.count(), 0);
}

void TestApplication::unselectedBarSelectsRow()
{
    QTRY_VERIFY(!m_row->downloadBar()->hasMouseTracking());
    QSignalSpy selected(m_row, &Application::select);
    QSignalSpy down(m_row, &Application::downloadMaxChanged);

    QTest::mouseClick(m_row->downloadBar(), Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseClick(m_row, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(m_row, Qt::RightButton, {}, QPoint(5, 5));

    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.at(0).at(0).value<AppPtr>(), m_ptr);
    QCOMPARE(down.count(), 0);
}

void TestApplication::stringConnectionsQueued()
{
    Receiver receiver;
    QVERIFY(connect(m_row, SIGNAL(select(AppPtr)), &receiver, SLOT(onSelect(AppPtr)),
                    Qt::QueuedConnection));
    QVERIFY(connect(m_row, SIGNAL(uploadMaxChanged(AppPtr, quint32)), &receiver,
                    SLOT(onUploadMax(AppPtr, quint32)), Qt::QueuedConnection));

    QTest::mouseClick(m_row, Qt::LeftButton, {}, QPoint(5, 5));
    m_row->uploadBar()->setMouseTracking(true);
    QTest::mouseClick(m_row->uploadBar(), Qt::LeftButton, {}, QPoint(5, 5));

    QTRY_COMPARE(receiver.selected.size(), 2);
    QCOMPARE(receiver.selected.at(0), m_ptr);
    QCOMPARE(receiver.uploads, QList<quint32>{m_row->uploadBar()->limit()});
}

// A wheel over a row's combo box scrolls the list and leaves the box alone;
// a plain combo box in the same place shows that the wheel would change it.
void TestApplication::wheelScrollsList()
{
    QScrollArea area;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* row = new Application(content);
    row->setState(1);
    auto* plain = new QComboBox(content);
    plain->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    layout->addWidget(row);
    layout->addWidget(plain);
    layout->addSpacing(2000);
    area.setWidget(content);
    area.resize(800, 200);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));

    const auto wheel = [](QWidget* target) {
        const QPointF at(target->width() / 2, target->height() / 2);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        // Delivered as the window system delivers it: only such wheel events
        // travel on to the parents.
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(target, &event);
    };
    auto* combo = row->findChild<KComboBox*>(QStringLiteral("comboAppType"));
    const int index = combo->currentIndex();
    QCOMPARE(area.verticalScrollBar()->value(), 0);

    wheel(combo);
    QCOMPARE(combo->currentIndex(), index);
    QVERIFY(area.verticalScrollBar()->value() > 0);

    wheel(plain);
    QCOMPARE(plain->currentIndex(), 1);
}

void TestApplication::offline()
{
    m_row->uploadBar()->setCurrent(500000);
    m_row->setOffline(true);
    auto* name = child<QLabel>("labelName");
    QVERIFY(!name->isEnabled());
    QVERIFY(name->styleSheet().contains(QLatin1String("darkgray")));
    QCOMPARE(m_row->uploadBar()->current(), 0u);
    QCOMPARE(m_row->uploadValue(), 0);

    m_row->setState(1);
    QVERIFY(name->styleSheet().isEmpty());
    m_row->setState(0);
    QVERIFY(name->styleSheet().contains(QLatin1String("darkgray")));

    m_row->setOffline(false);
    QVERIFY(name->isEnabled());
    QVERIFY(name->styleSheet().contains(QLatin1String("white")));
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void TestApplication::paintSettles_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<quint32>("priority");
    QTest::addColumn<bool>("blocked");

    QTest::newRow("unselected") << 0 << 2u << false;
    QTest::newRow("unselected, highest") << 0 << 0u << false;
    QTest::newRow("selected") << 1 << 2u << false;
    QTest::newRow("selected, blocked") << 1 << 3u << true;
    QTest::newRow("selected, highest") << 1 << 0u << false;
}

// The row lays its bars out while painting; that must not lead to another
// paint, or an idle list would keep the processor busy.
void TestApplication::paintSettles()
{
    QFETCH(int, state);
    QFETCH(quint32, priority);
    QFETCH(bool, blocked);
    for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()}) {
        bar->setRateRange(8, 8000000);
        bar->setLimit(2000000); // not a whole number of pixels
        bar->setCurrent(700000);
    }
    m_row->setPriority(priority);
    m_row->setBlocked(blocked);
    m_row->setState(state);
    QTRY_COMPARE(m_row->uploadBar()->labelsVisible(), state == 1);
    PaintCounter counter;
    m_row->installEventFilter(&counter);
    QTest::qWait(20);

    counter.paints = 0;
    QTest::qWait(100); // nothing to wait for: an idle row must stay idle
    QCOMPARE(counter.paints, 0);
}

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
