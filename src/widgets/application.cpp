#include "application.h"

#include "bandwidthbar.h"
#include "ui_application.h"

#include <QImage>
#include <QMouseEvent>

namespace {

// One style sheet for every row and every shade. A row switches shade through
// its "shade" property and re-polishes only the widgets the rules name: a new
// style sheet would re-polish every widget of the row, and the view re-shades
// hundreds of rows whenever one is added or removed above them.
const char* const kRowSheet =
    "Application[shade=\"dark\"] QWidget#widgetMain,Application[shade=\"dark\"] "
    "QWidget#widgetBars,Application[shade=\"dark\"] QLabel#labelName,"
    "Application[shade=\"dark\"] QComboBox#comboAppType,Application[shade=\"dark\"] "
    "QComboBox#comboFirewall {background-color: #222222; border: 1px solid #222222;"
    "border-radius: 3px;}"
    "Application[shade=\"light\"] QWidget#widgetMain,Application[shade=\"light\"] "
    "QWidget#widgetBars,Application[shade=\"light\"] QLabel#labelName,"
    "Application[shade=\"light\"] QComboBox#comboAppType,Application[shade=\"light\"] "
    "QComboBox#comboFirewall {background-color: #555555; border: 1px solid #555555;"
    "border-radius: 3px;}"
    "Application[shade=\"selected\"] QWidget#widgetMain,Application[shade=\"selected\"] "
    "QWidget#widgetBars,Application[shade=\"selected\"] QLabel#labelName,"
    "Application[shade=\"selected\"] QComboBox#comboAppType,"
    "Application[shade=\"selected\"] QComboBox#comboFirewall {background-color: lightgray;"
    "color: black;border: 1px solid lightgray;border-radius: 3px;}"
    "Application[shade=\"selected\"] QComboBox#comboAppType:disabled,"
    "Application[shade=\"selected\"] QComboBox#comboFirewall:disabled {background: "
    "transparent; color: grey;}";

// Fill colours of the bars, the same as the plots of the totals graph.
const QColor kUploadColour(232, 151, 0);
const QColor kDownloadColour(90, 155, 2);

// The priority and blocked images, shared by all rows. Kept as images, which
// may outlive the application object, and turned into pixmaps when shown.
struct SharedImages
{
    QImage priority[4];
    QImage blocked;
};

SharedImages& sharedImages()
{
    static SharedImages images;
    return images;
}

// A missing file stays null and is tried again by the next row.
void loadSharedImages()
{
    SharedImages& images = sharedImages();
    for (int i = 0; i < 4; ++i) {
        if (images.priority[i].isNull())
            images.priority[i].load(QStringLiteral("skins/shinyblack/box_%1.png").arg(i + 1));
    }
    if (images.blocked.isNull())
        images.blocked.load(QStringLiteral("skins/shinyblack/blocked.png"));
}

void colourBar(BandwidthBar* bar, const QColor& colour)
{
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Active, QPalette::Highlight, colour);
    palette.setColor(QPalette::Inactive, QPalette::Highlight, colour);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, colour.darker(150));
    bar->setPalette(palette);
}

} // namespace

Application::Application(QWidget* parent) : QWidget(parent), ui(new Ui::ApplicationClass)
{
    static const int appPtrType = qRegisterMetaType<AppPtr>("AppPtr");
    Q_UNUSED(appPtrType);

    ui->setupUi(this);
    m_upload = new BandwidthBar(tr("Up"), ui->widgetBars);
    m_upload->setObjectName(QStringLiteral("progressUp"));
    colourBar(m_upload, kUploadColour);
    m_download = new BandwidthBar(tr("Dn"), ui->widgetBars);
    m_download->setObjectName(QStringLiteral("progressDown"));
    colourBar(m_download, kDownloadColour);
    for (BandwidthBar* bar : {m_upload, m_download}) {
        connect(bar, SIGNAL(mouseMoveDone(BandwidthBar*, quint32)), this,
                SLOT(mouseMoveDone(BandwidthBar*, quint32)));
    }

    setProperty("shade", QStringLiteral("light"));
    setStyleSheet(QLatin1String(kRowSheet));
    loadSharedImages();

    // A consistent start until the view sets the real state: normal priority,
    // allowed.
    ui->comboAppType->setCurrentIndex(int(m_priority));
    showPriorityImage(m_blocked, m_priority);
    setState(0);
}

Application::~Application()
{
    hide();
    delete m_upload;
    delete m_download;
    delete ui;
}

AppPtr Application::appPtr()
{
    // Once the owner is made, a lapsed weak reference means the row is on its
    // way out; a second owner would dangle after the deletion.
    if (m_ownerMade)
        return m_self.toStrongRef();
    m_ownerMade = true;
    const AppPtr owner(this, [](Application* row) { row->deleteLater(); });
    m_self = owner;
    return owner;
}

void Application::setProcess(const Process& process)
{
    m_process = process;
}

void Application::setName(const QString& name)
{
    m_name = name;
    ui->labelName->setText(name);
    ui->labelName->setToolTip(name);
}

void Application::setIcon(const QPixmap& icon)
{
    m_icon = icon;
    ui->label_2->setPixmap(icon);
}

void Application::setEntry(const BWCEntryPtr& entry)
{
    m_entry = entry;
}

QString Application::entryKey() const
{
    return m_entry ? m_entry->id : QString();
}

int Application::uploadValue() const
{
    return m_upload->value();
}

int Application::downloadValue() const
{
    return m_download->value();
}

void Application::setBarsMode(quint32 mode)
{
    m_upload->setMode(mode);
    m_download->setMode(mode);
}

void Application::setBarsEnabled(bool enabled)
{
    m_upload->setEnabled(enabled);
    m_download->setEnabled(enabled);
}

void Application::showPriorityImage(bool blocked, quint32 priority)
{
    const SharedImages& images = sharedImages();
    if (blocked) {
        ui->imageType->setPixmap(QPixmap::fromImage(images.blocked));
        ui->imageType->setToolTip(tr("Application is Blocked."));
        return;
    }
    if (priority < 4)
        ui->imageType->setPixmap(QPixmap::fromImage(images.priority[priority]));
    ui->imageType->setToolTip(tr("Priority: %1").arg(priority + 1));
    setBarsMode(priority == 0 ? BandwidthBar::Unlimited : BandwidthBar::Normal);
}

void Application::setBlocked(bool blocked)
{
    m_blocked = blocked;
    // Runs on_comboFirewall_currentIndexChanged when the index changes.
    ui->comboFirewall->setCurrentIndex(blocked ? 1 : 0);
    showPriorityImage(m_blocked, m_priority);
    setBarsEnabled(!m_blocked);
}

void Application::setPriority(quint32 priority)
{
    if (priority >= 4)
        return;
    m_priority = priority;
    // Runs on_comboAppType_currentIndexChanged when the index changes.
    ui->comboAppType->setCurrentIndex(int(priority));
    if (priority > 0) {
        setBarsEnabled(!m_blocked);
        if (!m_blocked)
            setBarsMode(BandwidthBar::Normal);
        ui->comboFirewall->setEnabled(true);
        // Also when the index did not change, e.g. on a new row.
        showPriorityImage(m_blocked, m_priority);
        return;
    }
    // The highest priority is never limited nor blocked.
    for (BandwidthBar* bar : {m_upload, m_download})
        bar->resize(bar->width(), bar->sizeHint().height());
    setBarsMode(BandwidthBar::Unlimited);
    setBarsEnabled(false);
    m_blocked = false;
    ui->comboFirewall->setCurrentIndex(0);
    ui->comboFirewall->setEnabled(false);
    showPriorityImage(m_blocked, m_priority);
    emit blockApp(false, self());
}

void Application::setOffline(bool offline)
{
    m_offline = offline;
    ui->label_2->setEnabled(!offline);
    ui->labelName->setEnabled(!offline);
    m_upload->setCurrent(0);
    m_download->setCurrent(0);
    setSheet(ui->labelName, offline ? QStringLiteral("QLabel{color: darkgray;}")
                                    : QStringLiteral("QLabel{color: white;}"));
}

// Setting a style sheet re-polishes the widget and its children even when the
// text is the same, and the view sets the states of hundreds of rows at once.
void Application::setSheet(QWidget* widget, const QString& sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}

void Application::setState(int state)
{
    m_state = state;
    if (state != 1) {
        ui->widgetControls->hide();
        setOffline(m_offline);
    } else {
        ui->widgetControls->show();
        setSheet(ui->labelName, QString());
    }
    applyShade();
    update();
}

void Application::setAlternate(bool alternate)
{
    if (alternate == m_alternate)
        return;
    m_alternate = alternate;
    applyShade();
}

void Application::applyShade()
{
    const QString shade = m_state == 1  ? QStringLiteral("selected")
                          : m_alternate ? QStringLiteral("dark")
                                        : QStringLiteral("light");
    if (property("shade").toString() == shade)
        return;
    setProperty("shade", shade);
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui->widgetMain, ui->widgetBars, ui->labelName, ui->comboAppType, ui->comboFirewall}) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
        widget->update();
    }
}

void Application::setNotify(bool notify)
{
    m_notify = notify;
}

void Application::on_comboAppType_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    showPriorityImage(m_blocked, quint32(index));
    if (m_notify)
        emit appTypeChanged(index, self());
    // Stored last: the view compares the old priority with the new index.
    m_priority = quint32(index);
}

void Application::on_comboFirewall_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    const quint32 mode = index == 1        ? BandwidthBar::Blocked
                         : m_priority != 0 ? BandwidthBar::Normal
                                           : BandwidthBar::Unlimited;
    setBarsMode(mode);
    setBlocked(index != 0);
    if (m_notify)
        emit blockApp(m_blocked, self());
}

void Application::on_buttonDetails_clicked()
{
    if (m_notify)
        emit showDetails(self());
}

void Application::mouseMoveDone(BandwidthBar* bar, quint32 bps)
{
    if (bar == m_download)
        emit downloadMaxChanged(self(), bps);
    else if (bar == m_upload)
        emit uploadMaxChanged(self(), bps);
}

void Application::layoutBars()
{
    const int height = ui->frameApp->height();
    const bool selected = m_state == 1;
    m_upload->move(0, selected ? 4 : 2);
    m_download->move(0, height / 2 - 4 + (selected ? 5 : 6));
    for (BandwidthBar* bar : {m_upload, m_download}) {
        // Only the selected row shows the texts and can be dragged.
        bar->setLabelsVisible(selected);
        bar->setMouseTracking(selected);
        bar->setParentSize(ui->widgetBars->width(), height);
    }
}

void Application::paintEvent(QPaintEvent* event)
{
    qDebug("update!\n");
    layoutBars();
    QWidget::paintEvent(event);
}

void Application::resizeEvent(QResizeEvent*)
{
    update();
}

void Application::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        emit select(self());
        return;
    }
    QWidget::mouseReleaseEvent(event);
}
