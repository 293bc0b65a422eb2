// The application row, whose signals, rules, mouse, wheel and painting the
// view relies on, and its details dialog.

#include "appdetails.h"
#include "application.h"
#include "bandwidthbar.h"
#include "kcombobox.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// How many columns of area hold a dark pixel: the width of dark text.
int inkedColumns(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (qGray(image.pixel(x, y)) < 128) {
                ++count;
                break;
            }
        }
    }
    return count;
}

class TestApplication : public QObject
{
    Q_OBJECT

    Application* m_row = nullptr;
    AppPtr m_ptr;
    QStringList m_emitted; // the row's signals, as "name argument"
    int m_paints = 0;      // by eventFilter

    void record(const QString& signal, const AppPtr& app)
    {
        m_emitted << (app == m_ptr ? signal : u"another row"_s);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        m_paints += event->type() == QEvent::Paint;
        return false;
    }
    QComboBox* combo(const char* name) const
    {
        return m_row->findChild<QComboBox*>(QLatin1String(name));
    }

public slots:
    // Connected by signature string and queued, as the view connects.
    void onSelect(AppPtr app) { record(u"select"_s, app); }

private slots:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"Recursive repaint"_s));
        m_row = new Application;
        m_ptr = m_row->appPtr();
        m_emitted.clear();
        QVERIFY(
            connect(m_row, SIGNAL(select(AppPtr)), SLOT(onSelect(AppPtr)), Qt::QueuedConnection));
        connect(m_row, &Application::appTypeChanged, this,
                [this](qint32 type, AppPtr app) { record(u"appType %1"_s.arg(type), app); });
        connect(m_row, &Application::blockApp, this,
                [this](bool block, AppPtr app) { record(u"block %1"_s.arg(int(block)), app); });
        connect(m_row, &Application::showDetails, this,
                [this](AppPtr app) { record(u"details"_s, app); });
        connect(m_row, &Application::uploadMaxChanged, this,
                [this](AppPtr app, quint32 bps) { record(u"upload %1"_s.arg(bps), app); });
        connect(m_row, &Application::downloadMaxChanged, this,
                [this](AppPtr app, quint32 bps) { record(u"download %1"_s.arg(bps), app); });
        m_row->resize(782, 54);
        m_row->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_row));
    }

    // The last AppPtr deletes the row from the event loop, not at once.
    void cleanup()
    {
        QPointer<Application> row = m_row;
        m_ptr.clear();
        QVERIFY(!row.isNull());
        QTRY_VERIFY(row.isNull());
    }

    void signalsNeedNotify_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("signal"); // emitted only while notifying
        QTest::addColumn<bool>("notify");
        const std::pair<const char*, const char*> actions[] = {
            {"priority combo", "appType 3"}, {"firewall combo", "block 1"},
            {"details button", "details"},   {"setBlocked", "block 1"},
            {"setPriority", "appType 3"},    {"invalid setPriority", ""}};
        for (bool notify : {false, true})
            for (auto [action, signal] : actions)
                QTest::addRow("%s, %s", action, notify ? "notifying" : "silent")
                    << QString::fromLatin1(action) << QString::fromLatin1(signal) << notify;
    }

    void signalsNeedNotify()
    {
        QFETCH(QString, action);
        QFETCH(QString, signal);
        QFETCH(bool, notify);
        m_row->setState(1);
        m_row->setNotify(notify);

        // A change from the view that moves a combo box runs its slot too.
        if (action == "priority combo"_L1)
            combo("comboAppType")->setCurrentIndex(3);
        else if (action == "firewall combo"_L1)
            combo("comboFirewall")->setCurrentIndex(1);
        else if (action == "details button"_L1)
            QTest::mouseClick(m_row->findChild<QToolButton*>(u"buttonDetails"_s), Qt::LeftButton);
        else if (action == "setBlocked"_L1)
            m_row->setBlocked(true);
        else if (action == "setPriority"_L1)
            m_row->setPriority(3);
        else
            for (quint32 priority : {4u, 0xFFFFFFFFu})
                m_row->setPriority(priority); // ignored

        QCOMPARE(m_emitted, notify && !signal.isEmpty() ? QStringList{signal} : QStringList());
        // The row changed itself whether or not it told anyone.
        QCOMPARE(m_row->priority(), signal.startsWith("appType"_L1) ? 3u : 2u);
        QCOMPARE(combo("comboAppType")->currentIndex(), int(m_row->priority()));
        QCOMPARE(m_row->isBlocked(), signal.startsWith("block"_L1));
    }

    // The highest priority is never limited nor blocked, and the row says so to
    // the view even before notification is on; a lower one lifts that again.
    void highestPriorityUnblocks()
    {
        // Taller than the form, so that the bars' natural height is not the
        // height the row gives them.
        m_row->resize(782, 100);
        auto* firewall = combo("comboFirewall");
        for (bool blockedBefore : {false, true}) {
            m_row->setPriority(1);
            QVERIFY(firewall->isEnabled() && m_row->uploadBar()->isEnabled());
            QCOMPARE(m_row->uploadBar()->mode(), quint32(BandwidthBar::Normal));
            m_row->setBlocked(blockedBefore);
            m_emitted.clear();

            m_row->setPriority(0);

            QCOMPARE(m_emitted, QStringList{u"block 0"_s});
            QVERIFY(!m_row->isBlocked() && firewall->currentIndex() == 0 && !firewall->isEnabled());
            // Laid out in the row again, at half its height.
            const int half = m_row->findChild<QFrame*>(u"frameApp"_s)->height() / 2 - 4;
            for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()}) {
                QVERIFY(bar->mode() == BandwidthBar::Unlimited && !bar->isEnabled());
                QCOMPARE(bar->height(), half);
            }
        }
    }

    // The name is white while the application runs and dark grey while it is
    // stopped; selecting the row makes it black until the view marks the row
    // offline or online again.
    void nameColour_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QColor>("colour");
        const QColor white(Qt::white), darkgray(0xa9, 0xa9, 0xa9), black(Qt::black);
        QTest::newRow("online") << QStringList{"online"} << white;
        QTest::newRow("offline") << QStringList{"offline"} << darkgray;
        QTest::newRow("selected") << QStringList{"offline", "select"} << black;
        QTest::newRow("selected, then offline") << QStringList{"select", "offline"} << darkgray;
        QTest::newRow("selected, then online") << QStringList{"select", "online"} << white;
        QTest::newRow("unselected") << QStringList{"offline", "select", "unselect"} << darkgray;
    }
    void nameColour()
    {
        QFETCH(QStringList, steps);
        QFETCH(QColor, colour);
        for (const QString& step : steps) {
            if (step.endsWith("line"_L1))
                m_row->setOffline(step == "offline"_L1);
            else
                m_row->setState(step == "select"_L1 ? 1 : 0);
        }
        const auto* name = m_row->findChild<QLabel*>(u"labelName"_s);
        QCOMPARE(name->palette().color(name->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText),
                 colour);
    }

    // A left click on an unselected row's bar selects the row, a right click does not; a
    // selected row's bars are dragged, and the view learns the new limits in bits per second.
    void mouseOnBars()
    {
        QTRY_VERIFY(!m_row->downloadBar()->hasMouseTracking());
        QTest::mouseClick(m_row->downloadBar(), Qt::LeftButton, {}, QPoint(10, 5));
        QTest::mouseClick(m_row, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(m_row, Qt::RightButton, {}, QPoint(5, 5));
        QTRY_COMPARE(m_emitted, QStringList({u"select"_s, u"select"_s}));

        m_row->setState(1);
        QTRY_VERIFY(m_row->uploadBar()->hasMouseTracking() && m_row->uploadBar()->labelsVisible());
        m_emitted.clear();
        for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()}) {
            const int x = bar->parentWidget()->width() / 2;
            QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - 5, 5));
            QTest::mouseMove(bar, QPoint(x, 5));
            QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, 5));
            QVERIFY(qAbs(qint64(bar->limit()) - 750000) < 3000); // half the area, half the scale
        }
        QCoreApplication::processEvents(); // no select queued
        QCOMPARE(m_emitted, QStringList({u"upload %1"_s.arg(m_row->uploadBar()->limit()),
                                         u"download %1"_s.arg(m_row->downloadBar()->limit())}));
    }

    // A wheel over a row's combo box scrolls the list and leaves the box alone.
    void wheelScrollsList()
    {
        QScrollArea area;
        auto* content = new QWidget;
        content->resize(780, 2000);
        auto* row = new Application(content);
        row->setState(1);
        area.setWidget(content);
        area.resize(800, 200);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        auto* combo = row->findChild<KComboBox*>(u"comboAppType"_s);

        QWheelEvent event(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // Only wheel events from the window system travel on to the parents.
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(combo, &event);
        QCOMPARE(combo->currentIndex(), 2); // the row's first priority
        QVERIFY(area.verticalScrollBar()->value() > 0);
    }

    void paintSettles_data()
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

    // Setting values and laying the bars out must come to rest: an idle row
    // that kept repainting would keep the processor busy.
    void paintSettles()
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
        m_row->installEventFilter(this);
        QTest::qWait(20);

        m_paints = 0;
        QTest::qWait(100); // nothing to wait for: an idle row must stay idle
        QCOMPARE(m_paints, 0);
    }

    // The view sets rates while rows are hidden (another tab is shown, or the
    // filter hides stopped rows); the first paint after showing must lay the
    // bars out without a bar repainting itself inside the row's paint.
    void valuesSetWhileHidden()
    {
        QWidget tab;
        auto* layout = new QVBoxLayout(&tab);
        layout->addWidget(m_row);
        tab.resize(900, 80);
        m_row->setState(1);
        for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()}) {
            bar->setRateRange(8, 8000000);
            bar->setLimit(3000000);
            bar->setCurrent(1500000);
        }
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        QTRY_VERIFY(qAbs(m_row->uploadBar()->value() - m_row->uploadBar()->width() / 2) <= 1);
        tab.hide();
        for (BandwidthBar* bar : {m_row->uploadBar(), m_row->downloadBar()})
            bar->setCurrent(700000);
        tab.show();
        tab.resize(700, 80);
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        QTRY_VERIFY(qAbs(m_row->uploadBar()->value() - m_row->uploadBar()->width() * 7 / 30) <= 1);
        m_row->setParent(nullptr); // the fixture deletes it
    }

    // At the form's width of 80 every priority and block text shows whole:
    // no text pixel reaches the edge where the text would be cut.
    void comboTextsFit_data()
    {
        QTest::addColumn<QString>("style");
        QTest::newRow("platform") << QString();
        QTest::newRow("Fusion") << u"Fusion"_s; // the screenshots' style
    }
    void comboTextsFit()
    {
        QFETCH(QString, style);
        const QString before = QApplication::style()->name();
        const auto restore = qScopeGuard([&] { QApplication::setStyle(before); });
        if (!style.isEmpty())
            QApplication::setStyle(style);
        m_row->setState(1);
        for (const char* name : {"comboAppType", "comboFirewall"}) {
            QComboBox* box = combo(name);
            QTRY_VERIFY(box->isVisible());
            QCOMPARE(box->width(), 80);
            // Left of the drop-down arrow, 12 pixels wide.
            const QRect field(0, 0, box->width() - 12, box->height());
            for (int i = 0; i < box->count(); ++i) {
                box->setCurrentIndex(i);
                // The text inks as many columns in the box as drawn on its own.
                QImage free(200, field.height(), QImage::Format_RGB32);
                free.fill(Qt::white);
                QPainter painter(&free);
                painter.setFont(box->font());
                painter.setPen(Qt::black);
                painter.drawText(free.rect(), Qt::AlignLeft | Qt::AlignVCenter, box->itemText(i));
                painter.end();
                const int shown = inkedColumns(box->grab().toImage(), field);
                QVERIFY2(shown >= inkedColumns(free, free.rect()) - 1,
                         qPrintable(box->itemText(i)));
            }
        }
    }

    // The row's combo boxes take their colours from their palette, which the
    // row gives the selected row's light grey, black text and CSS grey when
    // disabled; hovering and opening show.
    void comboColours()
    {
        m_row->setState(1);
        auto* box = m_row->findChild<KComboBox*>(u"comboAppType"_s);
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(box->palette().color(QPalette::Active, QPalette::Button),
                 QColor(0xd3, 0xd3, 0xd3));
        QCOMPARE(box->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::black));
        QCOMPARE(box->palette().color(QPalette::Disabled, QPalette::ButtonText),
                 QColor(0x80, 0x80, 0x80));

        KComboBox own;
        own.addItems({u"1 - Highest"_s, u"2 - High"_s});
        own.resize(80, 22);
        QPalette palette = own.palette();
        palette.setColor(QPalette::Button, QColor(200, 0, 0));
        palette.setColor(QPalette::ButtonText, QColor(0, 0, 200));
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0, 200, 0));
        own.setPalette(palette);
        own.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own));
        const auto colours = [&] {
            QSet<QRgb> found;
            const QImage image = own.grab().toImage();
            for (int x = 2; x < image.width() - 2; ++x)
                found.insert(image.pixel(x, image.height() / 2) & 0xFFFFFF);
            return found;
        };
        own.setAttribute(Qt::WA_UnderMouse, false); // wherever the pointer is
        const QImage normal = own.grab().toImage();
        QVERIFY(colours().contains(QColor(200, 0, 0).rgb() & 0xFFFFFF));
        QVERIFY(colours().contains(QColor(0, 0, 200).rgb() & 0xFFFFFF));
        own.setAttribute(Qt::WA_UnderMouse);
        const QImage hovered = own.grab().toImage();
        own.setAttribute(Qt::WA_UnderMouse, false);
        own.showPopup();
        const QImage open = own.grab().toImage();
        own.hidePopup();
        QVERIFY(normal != hovered && normal != open && hovered != open);
        QCOMPARE(own.grab().toImage(), normal);
        own.setEnabled(false);
        QVERIFY(!colours().contains(QColor(200, 0, 0).rgb() & 0xFFFFFF));
        QVERIFY(colours().contains(QColor(0, 200, 0).rgb() & 0xFFFFFF));
    }

    // A name longer than the room beside the icons is elided, not cut.
    void longNameElided()
    {
        const QString name = u"Application With A Name Far Too Long For Its Frame"_s;
        m_row->setName(name);
        const auto* label = m_row->findChild<QLabel*>(u"labelName"_s);
        QVERIFY2(label->text().endsWith(QChar(0x2026)), qPrintable(label->text()));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <=
                label->contentsRect().width());
        QCOMPARE(m_row->name(), name);
    }

    // A desktop entry's name is whatever its user wrote: shown as text, in
    // the row and in its tool tip, never as markup.
    void markupNamesShownAsText()
    {
        const QString name = u"<b>B</b><img src=\"/x.png\">"_s;
        m_row->setName(name);
        const auto* label = m_row->findChild<QLabel*>(u"labelName"_s);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QTextDocument tip;
        tip.setHtml(label->toolTip());
        QCOMPARE(tip.toPlainText(), name);
    }

    // Once the last owner has gone the row is being deleted: no new owner.
    void noOwnerAfterTheLast()
    {
        QCOMPARE(m_row->appPtr(), m_ptr);
        m_ptr.clear();
        QVERIFY(m_row->appPtr().isNull());
    }

    void detailsSize_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("size");

        QTest::newRow("largest in bytes") << quint64(1023) << "1023 Bytes";
        QTest::newRow("one KB") << quint64(1024) << "1 KB";
        QTest::newRow("largest in KB, cut down") << quint64(1048575) << "1023 KB";
        QTest::newRow("one MB") << quint64(1048576) << "1 MB";
        QTest::newRow("past 32 bits") << (quint64(1) << 40) << "1048576 MB";
    }

    void detailsSize()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, size);
        QCOMPARE(AppDetails::formatSize(bytes), size);
    }

    // A dialog for no row at all shows no placeholder texts rather than failing.
    // The texts of a real row are checked with its screenshot.
    void detailsWithoutRow()
    {
        const AppDetails dialog{AppPtr()};
        QStringList texts;
        for (const QLabel* label :
             dialog.findChildren<QLabel*>(QRegularExpression(u"^label[A-Z]"_s)))
            texts << label->text();
        texts.sort();
        QCOMPARE(texts, QStringList(9, QString()) << u"0 Bytes"_s);
    }

    void detailsResult_data()
    {
        QTest::addColumn<int>("key"); // 0: a click on the button
        QTest::addColumn<int>("result");

        QTest::newRow("Hide Until Active") << 0 << 1;
        QTest::newRow("Return, the default button") << int(Qt::Key_Return) << 1;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 0;
    }

    void detailsResult()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        AppDetails dialog(m_ptr);
        // Runs inside exec(), as the view runs the dialog.
        QTimer::singleShot(0, &dialog, [&] {
            if (key)
                QTest::keyClick(&dialog, Qt::Key(key));
            else
                QTest::mouseClick(dialog.findChild<QPushButton*>(u"buttonDelete"_s),
                                  Qt::LeftButton);
        });
        QCOMPARE(dialog.exec(), result);
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
