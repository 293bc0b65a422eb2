#include "application.h"

#include "bandwidthbar.h"
#include "skin.h"
#include "ui_application.h"
#include "widgetslog.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>

namespace {

// The row paints its own background and gives its name a colour; a style
// sheet would make Qt keep styling data for each of the row's widgets,
// hundreds of kilobytes per row, and re-style them all whenever the shade
// changes.
constexpr qreal kShadeRadius = 3;
// Keeps the name clear of the program's icon.
constexpr int kNameIndent = 4;

QString priorityImagePath(quint32 priority)
{
    return QStringLiteral("skins/shinyblack/box_%1.png").arg(priority + 1);
}

QString blockedImagePath()
{
    return QStringLiteral("skins/shinyblack/blocked.png");
}

void colourBar(BandwidthBar* bar, const QColor& colour)
{
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Active, QPalette::Highlight, colour);
    palette.setColor(QPalette::Inactive, QPalette::Highlight, colour);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, colour.darker(150));
    bar->setPalette(palette);
}

// The controls stand on the selected row's light grey: black text on it,
// grey where a control cannot be used.
void colourControl(QWidget* control)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Button, Skin::selectedShade());
    palette.setColor(QPalette::ButtonText, Skin::nameSelected());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Skin::disabledText());
    control->setPalette(palette);
}

} // namespace

Application::Application(QWidget* parent) : QWidget(parent), ui(new Ui::ApplicationClass)
{
    static const int appPtrType = qRegisterMetaType<AppPtr>("AppPtr");
    Q_UNUSED(appPtrType);

    ui->setupUi(this);
    m_upload = new BandwidthBar(tr("Up"), ui->widgetBars);
    m_upload->setObjectName(QStringLiteral("progressUp"));
    colourBar(m_upload, Skin::uploadColour());
    m_download = new BandwidthBar(tr("Dn"), ui->widgetBars);
    m_download->setObjectName(QStringLiteral("progressDown"));
    colourBar(m_download, Skin::downloadColour());
    for (BandwidthBar* bar : {m_upload, m_download}) {
        connect(bar, SIGNAL(mouseMoveDone(BandwidthBar*, quint32)), this,
                SLOT(mouseMoveDone(BandwidthBar*, quint32)));
    }

    // The name takes what room the frame leaves and is elided to fit it.
    ui->labelName->setSizePolicy(QSizePolicy::Ignored,
                                 ui->labelName->sizePolicy().verticalPolicy());
    ui->labelName->setContentsMargins(kNameIndent, 0, 0, 0);
    ui->labelName->installEventFilter(this);
    // A name is whatever a program's desktop entry says: never markup.
    ui->labelName->setTextFormat(Qt::PlainText);
    // The bars follow the size of the area they stand in.
    ui->widgetBars->installEventFilter(this);
    ui->frameApp->installEventFilter(this);
    colourControl(ui->comboAppType);
    colourControl(ui->comboFirewall);

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
    showName();
    ui->labelName->setToolTip(Qt::convertFromPlainText(name, Qt::WhiteSpaceNormal));
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
    // A mode takes the bar to its full width, or back to its limit's.
    layoutBars();
}

void Application::setBarsEnabled(bool enabled)
{
    m_upload->setEnabled(enabled);
    m_download->setEnabled(enabled);
}

void Application::showPriorityImage(bool blocked, quint32 priority)
{
    if (blocked) {
        ui->imageType->setPixmap(Skin::image(blockedImagePath()));
        ui->imageType->setToolTip(tr("Application is Blocked."));
        return;
    }
    if (priority < 4)
        ui->imageType->setPixmap(Skin::image(priorityImagePath(priority)));
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
    // The highest priority is never limited nor blocked. The bars take their
    // natural height for a moment; setBarsMode lays them out in the row again.
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
    m_nameColoured = true;
    ui->label_2->setEnabled(!offline);
    ui->labelName->setEnabled(!offline);
    m_upload->setCurrent(0);
    m_download->setCurrent(0);
    applyShade();
}

void Application::setState(int state)
{
    m_state = state;
    ui->widgetControls->setVisible(state == 1);
    if (state != 1) {
        setOffline(m_offline); // also clears the rates until the next statistics
    } else {
        // The selected row's name is black until the row is marked offline
        // or online again.
        m_nameColoured = false;
        applyShade();
    }
    layoutBars();
}

void Application::setAlternate(bool alternate)
{
    if (alternate == m_alternate)
        return;
    m_alternate = alternate;
    applyShade();
}

QColor Application::shade() const
{
    return m_state == 1  ? Skin::selectedShade()
           : m_alternate ? Skin::darkShade()
                         : Skin::lightShade();
}

void Application::applyShade()
{
    const QColor name = !m_nameColoured ? Skin::nameSelected()
                        : m_offline     ? Skin::nameOffline()
                                        : Skin::nameOnline();
    QLabel* label = ui->labelName;
    if (label->palette().color(QPalette::Disabled, QPalette::WindowText) != name ||
        label->palette().color(QPalette::Active, QPalette::WindowText) != name) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, name);
        label->setPalette(palette);
    }
    update();
}

void Application::showName()
{
    QLabel* label = ui->labelName;
    const int room = label->contentsRect().width();
    label->setText(room > 0 ? label->fontMetrics().elidedText(m_name, Qt::ElideRight, room)
                            : m_name);
}

bool Application::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == ui->labelName)
            showName();
        else
            layoutBars();
    } else if (event->type() == QEvent::Show && watched == ui->widgetBars) {
        // Hidden, the bars measure rates against a nominal width.
        layoutBars();
    }
    return QWidget::eventFilter(watched, event);
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

void Application::paintEvent(QPaintEvent*)
{
    qCDebug(lcWidgets, "update!\n");
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade());
    painter.drawRoundedRect(QRectF(ui->widgetMain->geometry()), kShadeRadius, kShadeRadius);
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
