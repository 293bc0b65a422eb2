#include "applicationview.h"

#include "applicationsettings.h"
#include "bandwidthbar.h"
#include "bwccommands.h"
#include "datasource.h"
#include "devicecommands.h"
#include "hostsettings.h"
#include "iapplication.h"
#include "igraphwidget.h"
#include "modellog.h"
#include "pendingapplication.h"
#include "scaletext.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "skin.h"
#include "ui_applicationview.h"
#include "unitconvert.h"

#include <QGridLayout>
#include <QLabel>
#include <QSettings>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

const char* const keyShowAll = "ShowAllApps";
const char* const keySortType = "SortType";
const char* const keyGatherStats = "GatherPerfStats";

constexpr int countPeriodMS = 2000;
constexpr int parentPeriodMS = 333;
constexpr int enumerationDelayMS = 1000;
constexpr int sortPeriodMS = 1000;
// A stored sample rate of 0 would poll on every pass of the event loop.
constexpr quint32 shortestSamplePeriodMS = 100;

} // namespace

ApplicationView::ApplicationView(ApplicationSettings* settings, IApplication* host, QWidget* parent)
    : QWidget(parent), ui(new Ui::applicationviewClass), m_settings(HostSettings::create()),
      m_list(0), m_appSettings(settings), m_host(host)
{
    m_showAll = m_settings->value(QLatin1String(keyShowAll), true).toBool();
    m_enabled = m_appSettings && m_appSettings->isBWCEnabled();

    ui->setupUi(this);
    connect(ui->comboBoxSort, SIGNAL(currentIndexChanged(int)), this,
            SLOT(on_comboBoxSort_currentIndexChanged(int)));
    connect(ui->checkBoxOfflineApps, SIGNAL(stateChanged(int)), this,
            SLOT(on_checkBoxOfflineApps_stateChanged(int)));
    ui->iconUL->setPixmap(Skin::image(Skin::uploadLegendPath()));
    ui->iconDL->setPixmap(Skin::image(Skin::downloadLegendPath()));
    buildContainers();

    m_unit = 3;
    if (m_host) {
        m_unitSource = m_host->getDataSource(QStringLiteral("Application.BandwidthUnit"));
        m_rxSource = m_host->getDataSource(QStringLiteral("System.Network.Total.BandwidthRx"));
        m_txSource = m_host->getDataSource(QStringLiteral("System.Network.Total.BandwidthTx"));
    }
    if (m_unitSource)
        connect(m_unitSource.get(), SIGNAL(newData(CVNDataSample)), this,
                SLOT(newBWUnit(CVNDataSample)));

    // Selecting the stored index runs the sort slot, which finds it already held.
    m_sortIndex = m_settings->value(QLatin1String(keySortType), 0).toInt();
    if (m_sortIndex < 0 || m_sortIndex >= ui->comboBoxSort->count())
        m_sortIndex = 0;
    ui->comboBoxSort->setCurrentIndex(m_sortIndex);

    GraphVisibility();

    createGraph();
    if (m_host) {
        m_ulMaxSource = m_host->getDataSource(QStringLiteral("System.Network.BWCUploadMax"));
        m_dlMaxSource = m_host->getDataSource(QStringLiteral("System.Network.BWCDownloadMax"));
    }
    if (m_ulMaxSource) {
        m_ulMax = m_ulMaxSource->getValue(-1, -1).toUInt();
        connect(m_ulMaxSource.get(), SIGNAL(newData(CVNDataSample)), this,
                SLOT(newULMax(CVNDataSample)));
    }
    if (m_dlMaxSource) {
        m_dlMax = m_dlMaxSource->getValue(-1, -1).toUInt();
        connect(m_dlMaxSource.get(), SIGNAL(newData(CVNDataSample)), this,
                SLOT(newDLMax(CVNDataSample)));
    }

    m_client = CreateServiceIO(false, nullptr);
    if (m_client) {
        m_client->SetName("application view");
        connect(m_client, SIGNAL(NewCommandReceived(BaseCommandPtr)), this,
                SLOT(NewCommandReceived(BaseCommandPtr)));
        connect(m_client, SIGNAL(NewBroadcastReceived(BaseCommandPtr)), this,
                SLOT(NewBroadcastReceived(BaseCommandPtr)));
    } else {
        qCCritical(lcModule, "ApplicationView::ApplicationView(): no transport client");
    }

    m_statsTimer = startTimer(samplePeriod());
    if (m_appSettings) {
        connect(m_appSettings, SIGNAL(newDefaultUL(qint32)), this, SLOT(newDefaultUL(qint32)));
        connect(m_appSettings, SIGNAL(newDefaultDL(qint32)), this, SLOT(newDefaultDL(qint32)));
        connect(m_appSettings, SIGNAL(newDefaultPriority(quint32)), this,
                SLOT(newDefaultPriority(quint32)));
        connect(m_appSettings, SIGNAL(newDefaultBlock(bool)), this, SLOT(newDefaultBlock(bool)));
        connect(m_appSettings, SIGNAL(newDefaultLanException(bool)), this,
                SLOT(newDefaultLanException(bool)));
        connect(m_appSettings, SIGNAL(newBarFrameRate(quint32)), this,
                SLOT(newBarFrameRate(quint32)));
        connect(m_appSettings, SIGNAL(newStatSampleRate(quint32)), this,
                SLOT(newStatSampleRate(quint32)));
        connect(m_appSettings, SIGNAL(doResetAll()), this, SLOT(doResetAll()));
        connect(m_appSettings, SIGNAL(calledBWCEnable(bool)), this, SLOT(calledBWCEnable(bool)));
    }

    m_countTimer = startTimer(countPeriodMS);
    m_parentTimer = startTimer(parentPeriodMS);

    newBWUnit(m_unitSource ? m_unitSource->getSample(-1, -1) : CVNDataSample(QVariant(3u)));

    m_enumTimer = startTimer(enumerationDelayMS);
    auto* devices = new BCI_EnumDevices;
    send(devices);
    m_sortTimer = startTimer(sortPeriodMS);
}

ApplicationView::~ApplicationView()
{
    if (m_client)
        m_client->Release();
    m_client = nullptr;
    {
        QMutexLocker locker(&m_pendingMutex);
        qDeleteAll(m_pending);
        m_pending.clear();
    }
    m_selected.clear();
    m_list.clear();
    // Whichever container the scroll area does not hold has no parent.
    for (QWidget* container : {m_rows, m_messages}) {
        if (!container->parent())
            delete container;
    }
    delete ui;
}

void ApplicationView::buildContainers()
{
    m_rows = new QWidget;
    m_rows->setObjectName(QStringLiteral("background"));
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setSpacing(2);
    m_rowsLayout->addItem(new QSpacerItem(10, 10, QSizePolicy::Minimum, QSizePolicy::Expanding));
    // The form's own content widget goes with this.
    ui->scrollArea->setWidget(m_rows);

    m_messages = new QWidget;
    m_messages->setObjectName(QStringLiteral("background"));
    m_messages->hide();
    auto* grid = new QGridLayout(m_messages);
    m_disabledLabel = new QLabel(tr("Application Control is currently Disabled.\nYou can "
                                    "re-enable it on the Advanced Panel."),
                                 m_messages);
    m_noDeviceLabel = new QLabel(
        tr("No Corvid Network Devices detected. Application Control is disabled"), m_messages);
    int row = 0;
    for (QLabel* label : {m_disabledLabel, m_noDeviceLabel}) {
        label->setAlignment(Qt::AlignCenter);
        label->hide();
        grid->addWidget(label, row++, 0, Qt::AlignCenter);
    }
}

void ApplicationView::createGraph()
{
    if (!m_host)
        return;
    m_graph = m_host->createGraphWidget(IGraphWidget::bandwidthGraphId(), nullptr);
    if (!m_graph)
        return;
    m_graph->setCaption(0, QString());
    m_graph->setScaleVisible(0);
    m_graph->setLegendVisible(0);
    m_graph->setBorderWidth(0);
    if (m_appSettings)
        setGraphRange(std::max(m_appSettings->globalDL(), m_appSettings->globalUL()));
    if (m_txSource) {
        m_graph->addDataSource(m_txSource);
        m_graph->setSourceColor(m_txSource, Skin::uploadColour());
    }
    if (m_rxSource) {
        m_graph->addDataSource(m_rxSource);
        m_graph->setSourceColor(m_rxSource, Skin::downloadColour());
    }
    auto* layout = new QVBoxLayout(ui->widgetBandwidthDisplay);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_graph);
}

int ApplicationView::samplePeriod() const
{
    const quint32 period = m_appSettings ? m_appSettings->statSampleRate() : 1000;
    return int(std::clamp(period, shortestSamplePeriodMS, quint32(INT_MAX)));
}

void ApplicationView::send(BaseCommand* cmd)
{
    const BaseCommandPtr ptr(cmd);
    if (m_client)
        m_client->SendCommand(ptr, RequestTimeoutMS);
}

void ApplicationView::requestEnumeration()
{
    send(new BCI_BWCEnumApps);
}

void ApplicationView::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == m_parentTimer) {
        QWidget* parent = parentWidget();
        if (!parent)
            return;
        killTimer(m_parentTimer);
        m_parentTimer = 0;
        // A tab widget's page stack tells which page is current.
        if (parent->metaObject()->indexOfSignal("currentChanged(int)") >= 0)
            connect(parent, SIGNAL(currentChanged(int)), this, SLOT(deselected(int)));
    } else if (id == m_statsTimer) {
        send(new BCI_BWCStats);
    } else if (id == m_countTimer) {
        QMutexLocker locker(&m_mutex);
        int active = 0;
        int inactive = 0;
        for (int i = 0; i < m_list.count(); ++i) {
            const AppPtr row = m_list.at(i);
            const BWCEntryPtr entry = row ? row->entry() : BWCEntryPtr();
            if (entry && !entry->idList.isEmpty())
                ++active;
            else
                ++inactive;
        }
        if (m_appSettings) {
            m_appSettings->updateActiveCount(active);
            m_appSettings->updateInactiveCount(inactive);
        }
    } else if (id == m_enumTimer) {
        killTimer(m_enumTimer);
        m_enumTimer = 0;
        requestEnumeration();
    } else if (id == m_sortTimer) {
        applySort();
    } else {
        QWidget::timerEvent(event);
    }
}

void ApplicationView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    QMutexLocker locker(&m_mutex);
    ui->checkBoxOfflineApps->setCheckState(m_showAll ? Qt::Unchecked : Qt::Checked);
    GraphVisibility();
    for (int i = 0; i < m_list.count(); ++i) {
        if (const AppPtr row = m_list.at(i))
            row->setState(0);
    }
    reshade();
}

void ApplicationView::UpdateAppView()
{
    QWidget* shown = nullptr;
    if (m_devicesPresent && m_enabled) {
        requestEnumeration();
        m_noDeviceLabel->hide();
        m_disabledLabel->hide();
        shown = m_rows;
    } else {
        m_noDeviceLabel->setVisible(!m_devicesPresent);
        m_disabledLabel->setVisible(m_devicesPresent);
        shown = m_messages;
    }
    // Taking out and putting back the widget already shown would only
    // re-polish every row.
    if (ui->scrollArea->widget() != shown) {
        ui->scrollArea->takeWidget();
        ui->scrollArea->setWidget(shown);
    }
    m_rows->setVisible(shown == m_rows);
    m_messages->setVisible(shown == m_messages);

    ui->lblWifiStmt->setVisible(m_wirelessPresent);
    GraphVisibility();
}

void ApplicationView::GraphVisibility()
{
    m_gatherStats = m_settings->value(QLatin1String(keyGatherStats), true).toBool();
    const bool visible = m_gatherStats && m_enabled && m_devicesPresent;
    for (QWidget* part : {static_cast<QWidget*>(ui->rightScale), static_cast<QWidget*>(ui->label_3),
                          ui->widgetBandwidthDisplay, ui->widget, ui->widget_2})
        part->setVisible(visible);
}

void ApplicationView::setGraphRange(double maximum)
{
    if (m_graph)
        m_graph->setRange(0, 0, maximum);
}

void ApplicationView::showUnit(quint32 unit, bool withFullName)
{
    m_unit = unit;
    {
        QMutexLocker locker(&m_mutex);
        for (int i = 0; i < m_list.count(); ++i) {
            if (const AppPtr row = m_list.at(i)) {
                row->uploadBar()->setUnit(m_unit);
                row->downloadBar()->setUnit(m_unit);
            }
        }
    }
    QString name;
    UnitConvert::getString(name, m_unit);
    ui->labelUnit->setText(name + tr("ps"));
    if (withFullName) {
        UnitConvert::getFullString(name, m_unit);
        ui->labelBWUnit->setText(name);
    }
    const quint32 down = m_appSettings ? m_appSettings->globalDL() : 0;
    ui->labelMax->setText(ScaleText::format(down, m_unit));
    ui->labelMed->setText(ScaleText::format(down / 2, m_unit));
}

void ApplicationView::newBWUnit(CVNDataSample sample)
{
    showUnit(sample.value.toUInt(), true);
    if (m_appSettings)
        setGraphRange(std::max(m_appSettings->globalDL(), m_appSettings->globalUL()));
}

void ApplicationView::on_comboUnits_currentIndexChanged(int index)
{
    showUnit(quint32(index), false);
}

void ApplicationView::newULMax(CVNDataSample)
{
    QMutexLocker locker(&m_mutex);
    if (m_ulMaxSource)
        m_ulMax = m_ulMaxSource->getValue(-1, -1).toUInt();
    reload();
    updateScale();
}

void ApplicationView::newDLMax(CVNDataSample)
{
    QMutexLocker locker(&m_mutex);
    if (m_dlMaxSource)
        m_dlMax = m_dlMaxSource->getValue(-1, -1).toUInt();
    reload();
    updateScale();
}

void ApplicationView::updateScale()
{
    QString name;
    UnitConvert::getString(name, m_unit);
    ui->labelUnit->setText(name + tr("ps"));
    const quint32 larger = qint32(m_dlMax) > qint32(m_ulMax) ? m_dlMax : m_ulMax;
    const double maximum = larger;
    ui->labelMax->setText(ScaleText::format(quint32(maximum), m_unit));
    ui->labelMed->setText(ScaleText::format(quint32(maximum / 2), m_unit));
    setGraphRange(maximum);
}
