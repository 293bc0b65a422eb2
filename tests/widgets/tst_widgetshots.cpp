// Renders a handful of rows in every state and the details dialog into
// <build>/screenshots, on a dark theme like the host's, and checks the colours
// that the row style sheets must produce.

#include "appdetails.h"
#include "application.h"
#include "bandwidthbar.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <QtTest>

class TestWidgetShots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rows();
    void details();

private:
    static QPixmap sampleIcon(const QColor& colour);
    Application* addRow(QVBoxLayout* layout, const QString& name, quint32 priority, bool alternate);
    QDir m_out;
};

void TestWidgetShots::initTestCase()
{
    // The host runs a dark theme; this is a stand-in for it.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
    dark.setColor(QPalette::ButtonText, Qt::white);
    QApplication::setPalette(dark);

    QVERIFY(QDir().mkpath(QStringLiteral(WIDGET_SHOTS_DIR)));
    m_out = QDir(QStringLiteral(WIDGET_SHOTS_DIR));
}

QPixmap TestWidgetShots::sampleIcon(const QColor& colour)
{
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(QPen(colour.darker(160), 2));
    p.drawRoundedRect(QRectF(3, 3, 26, 26), 6, 6);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(11, 11, 10, 10));
    return icon;
}

Application* TestWidgetShots::addRow(QVBoxLayout* layout, const QString& name, quint32 priority,
                                     bool alternate)
{
    auto* row = new Application(layout->parentWidget());
    row->resize(row->width(), 54);
    row->setFixedHeight(54);
    row->setName(name);
    row->setIcon(sampleIcon(QColor::fromHsv((layout->count() * 67) % 360, 160, 200)));
    row->setAlternate(alternate);
    for (BandwidthBar* bar : {row->uploadBar(), row->downloadBar()}) {
        bar->setRateRange(8, 8000000);
        bar->setUnit(2);
    }
    // Limits first, then the priority, whose bar modes win, as the view does.
    row->uploadBar()->setLimit(2000000);
    row->downloadBar()->setLimit(6000000);
    row->setPriority(priority);
    row->setNotify(true);
    layout->addWidget(row);
    return row;
}

void TestWidgetShots::rows()
{
    QWidget list;
    list.setStyleSheet(QStringLiteral("QWidget#list{background-color: #181818;}"));
    list.setObjectName(QStringLiteral("list"));
    auto* layout = new QVBoxLayout(&list);
    layout->setSpacing(2);
    layout->setContentsMargins(2, 2, 2, 2);

    Application* plain = addRow(layout, QStringLiteral("Web Browser"), 2, true);
    Application* selected = addRow(layout, QStringLiteral("Mail Client (selected)"), 1, false);
    Application* offline = addRow(layout, QStringLiteral("Updater (offline)"), 3, true);
    Application* blocked = addRow(layout, QStringLiteral("Game Launcher (blocked)"), 2, false);
    Application* unlimited = addRow(layout, QStringLiteral("Voice Chat (highest)"), 0, true);
    Application* selectedBlocked =
        addRow(layout, QStringLiteral("Torrent (blocked, selected)"), 3, false);
    Application* selectedUnlimited =
        addRow(layout, QStringLiteral("Video Call (highest, selected)"), 0, true);
    blocked->setBlocked(true);
    selectedBlocked->setBlocked(true);
    offline->setOffline(true);
    selected->setState(1);
    selectedBlocked->setState(1);
    selectedUnlimited->setState(1);

    list.resize(782, 7 * 56 + 4);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCoreApplication::processEvents();

    plain->uploadBar()->setCurrent(700000);
    plain->downloadBar()->setCurrent(4500000);
    selected->uploadBar()->setCurrent(1200000);
    selected->downloadBar()->setCurrent(2500000);
    unlimited->uploadBar()->setCurrent(3000000);
    unlimited->downloadBar()->setCurrent(5200000);
    selectedUnlimited->uploadBar()->setCurrent(2600000);
    selectedUnlimited->downloadBar()->setCurrent(7100000);
    QTest::qWait(50);

    const QImage shot = list.grab().toImage();
    QVERIFY(shot.save(m_out.filePath(QStringLiteral("rows.png"))));

    // The gap between the name frame and the bars shows the row's own
    // background: dark, light or selected.
    const auto background = [&](Application* row) {
        auto* frame = row->findChild<QWidget*>(QStringLiteral("frameApp"));
        auto* main = row->findChild<QWidget*>(QStringLiteral("widgetMain"));
        const QPoint at =
            main->mapTo(&list, QPoint(frame->geometry().right() + 2, main->height() / 2));
        return shot.pixelColor(at * shot.devicePixelRatio()).name();
    };
    QCOMPARE(background(plain), QStringLiteral("#222222"));
    QCOMPARE(background(blocked), QStringLiteral("#555555"));
    QCOMPARE(background(selected), QColor(QStringLiteral("lightgray")).name());
}

void TestWidgetShots::details()
{
    Application row;
    row.setName(QStringLiteral("Mail Client"));
    Process process;
    process.filePath = QStringLiteral("C:/Program Files/Mail Client/mailclient.exe");
    process.productVersion = QStringLiteral("4, 2, 0, 17");
    process.fileVersion = QStringLiteral("4,2,0,1733");
    process.description = QStringLiteral("Mail Client");
    process.company = QStringLiteral("Example Software Ltd.");
    process.comments = QStringLiteral("Reads and sends electronic mail; checks every ten minutes "
                                      "for new messages.");
    process.copyright = QStringLiteral("(c) Example Software Ltd. All rights reserved.");
    process.trademark = QStringLiteral("Mail Client is a trademark of Example Software Ltd.");
    process.fileSize = 5 * 1048576 + 12345;
    row.setProcess(process);

    AppDetails dialog(row.appPtr());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.grab().save(m_out.filePath(QStringLiteral("details.png"))));
    dialog.reject();
}

QTEST_MAIN(TestWidgetShots)
#include "tst_widgetshots.moc"
