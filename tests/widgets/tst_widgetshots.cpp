// Renders rows in every state and the details dialog into <build>/screenshots,
// on a dark theme like the host's, for a person to look at, and checks what
// must be seen: the rows' images and backgrounds, and the dialog's texts.

#include "appdetails.h"
#include "application.h"
#include "bandwidthbar.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

class TestWidgetShots : public QObject
{
    Q_OBJECT

    const QDir m_out{QStringLiteral(WIDGET_SHOTS_DIR)};

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        // From a dark window Qt derives white texts on a black base.
        QApplication::setPalette(QPalette(QColor(0x40, 0x40, 0x40), QColor(0x30, 0x30, 0x30)));
        QVERIFY(QDir().mkpath(m_out.path()));
    }
    void init() { QTest::failOnWarning(QRegularExpression(u"Recursive repaint"_s)); }

    void rows()
    {
        QWidget list;
        auto* layout = new QVBoxLayout(&list);
        // The name tells the state; the rates are the current upload and download.
        const std::tuple<QString, quint32, quint32, quint32> samples[] = {
            {u"Web Browser"_s, 2, 130000, 850000},
            {u"Mail Client (selected)"_s, 1, 220000, 470000},
            {u"Updater (offline)"_s, 3, 0, 0},
            {u"Game Launcher (blocked)"_s, 2, 0, 0},
            {u"Voice Chat (highest)"_s, 0, 560000, 980000},
            {u"Torrent (blocked, selected)"_s, 3, 0, 0},
            {u"Video Call (highest, selected)"_s, 0, 490000, 1330000}};
        for (const auto& [name, priority, up, down] : samples) {
            auto* row = new Application(&list);
            row->setFixedHeight(54);
            row->setName(name);
            row->setIcon(list.style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32));
            row->setAlternate(layout->count() % 2 == 0);
            // Limits first, then the priority, whose bar modes win, as the view does.
            row->uploadBar()->setLimit(400000);
            row->downloadBar()->setLimit(1200000);
            row->setPriority(priority);
            if (name.contains("blocked"_L1))
                row->setBlocked(true);
            row->setOffline(name.contains("offline"_L1));
            row->setState(name.contains("selected"_L1) ? 1 : 0);
            // The skin's image for the priority, or for a block.
            const QImage image(u"skins/shinyblack/%1.png"_s.arg(
                name.contains("blocked"_L1) ? u"blocked"_s : u"box_%1"_s.arg(priority + 1)));
            const QImage shown = row->findChild<QLabel*>(u"imageType"_s)->pixmap().toImage();
            QVERIFY(!image.isNull());
            QCOMPARE(shown.convertToFormat(image.format()), image);
            layout->addWidget(row);
        }
        list.resize(782, list.sizeHint().height());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        // Rates only now: scaled while hidden, they would be rescaled by the first paint.
        const auto rows = list.findChildren<Application*>(Qt::FindDirectChildrenOnly);
        for (int i = 0; i < rows.size(); ++i) {
            const auto& [name, priority, up, down] = samples[i];
            rows[i]->uploadBar()->setCurrent(up);
            rows[i]->downloadBar()->setCurrent(down);
        }

        const QImage shot = list.grab().toImage();
        QVERIFY(shot.save(m_out.filePath(u"rows.png"_s)));
        // The gap between the name frame and the bars shows the row's own
        // background: dark, light or selected.
        const auto background = [&](Application* row) {
            const auto* frame = row->findChild<QWidget*>(u"frameApp"_s);
            const QPoint at = frame->mapTo(&list, QPoint(frame->width() + 1, frame->height() / 2));
            return shot.pixelColor(at * shot.devicePixelRatio()).name();
        };
        QCOMPARE(background(rows[0]), u"#222222"_s);
        QCOMPARE(background(rows[3]), u"#555555"_s);
        QCOMPARE(background(rows[1]), QColor(u"lightgray"_s).name());
    }

    // Each member in its own label, with the versions' commas as dots.
    void details()
    {
        Application row;
        row.setName(u"Mail Client"_s);
        Process p;
        p.filePath = u"C:/Program Files/Mail Client/mailclient.exe"_s;
        p.productVersion = u"4, 2, 0, 17"_s;
        p.fileVersion = u"4,2,0,1733"_s;
        p.description = u"Reads and sends mail"_s;
        p.company = u"Example Software Ltd."_s;
        p.comments = u"Checks every ten minutes for new messages, and on request."_s;
        p.copyright = u"(c) Example Software Ltd. All rights reserved."_s;
        p.trademark = u"Mail Client is a trademark of Example Software Ltd."_s;
        p.fileSize = 5 * 1048576 + 12345;
        row.setProcess(p);
        AppDetails dialog(row.appPtr());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(m_out.filePath(u"details.png"_s)));

        const std::pair<const char*, QString> shown[] = {
            {"labelAppName", u"Mail Client"_s},    {"labelFilePath", p.filePath},
            {"labelFileVersion", u"4.2.0.1733"_s}, {"labelProductVersion", u"4. 2. 0. 17"_s},
            {"labelDescription", p.description},   {"labelCompany", p.company},
            {"labelComments", p.comments},         {"labelCopyright", p.copyright},
            {"labelTrademark", p.trademark},       {"labelSize", u"5 MB"_s}};
        for (const auto& [label, text] : shown)
            QCOMPARE(dialog.findChild<QLabel*>(QLatin1String(label))->text(), text);
    }
};

QTEST_MAIN(TestWidgetShots)
#include "tst_widgetshots.moc"
