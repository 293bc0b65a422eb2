#include "overviewpanel.h"

#include "applicationsettings.h"
#include "datasource.h"
#include "hostsettings.h"
#include "iapplication.h"
#include "igraphwidget.h"
#include "scaletext.h"
#include "skin.h"
#include "ui_overviewpanel.h"
#include "unitconvert.h"

#include <QSettings>
#include <QVBoxLayout>

#include <memory>

OverviewPanel::OverviewPanel(ApplicationSettings* settings, IApplication* host, QWidget* parent)
    : QWidget(parent), ui(new Ui::OverviewPanelClass), m_settings(settings), m_host(host)
{
    ui->setupUi(this);
    ui->iconUL->setPixmap(Skin::image(Skin::uploadLegendPath()));
    ui->iconDL->setPixmap(Skin::image(Skin::downloadLegendPath()));
    if (m_host) {
        connect(m_host, SIGNAL(networkStateChanged(CNetworkState*)), this,
                SLOT(OnNetworkStateChange(CNetworkState*)));
        m_graph = m_host->createGraphWidget(IGraphWidget::bandwidthGraphId(), nullptr);
    }
    if (m_graph) {
        // The panel draws its own scale and legend beside the chart.
        m_graph->setCaption(0, QString());
        m_graph->setScaleVisible(0);
        m_graph->setLegendVisible(0);
        m_graph->setBorderWidth(0);
        const std::pair<const char*, QColor> totals[] = {
            {"System.Network.Total.BandwidthTx", Skin::uploadColour()},
            {"System.Network.Total.BandwidthRx", Skin::downloadColour()}};
        for (const auto& [name, color] : totals) {
            const DataSourceHandle source = m_host->getDataSource(QLatin1String(name));
            if (source) {
                m_graph->addDataSource(source);
                m_graph->setSourceColor(source, color);
            }
        }
    }
    if (m_host) {
        m_ulMaxSource = m_host->getDataSource(QStringLiteral("System.Network.BWCUploadMax"));
        m_dlMaxSource = m_host->getDataSource(QStringLiteral("System.Network.BWCDownloadMax"));
        m_unitSource = m_host->getDataSource(QStringLiteral("Application.BandwidthUnit"));
    }
    const std::pair<const DataSourceHandle*, const char*> feeds[] = {
        {&m_ulMaxSource, SLOT(newULMax(CVNDataSample))},
        {&m_dlMaxSource, SLOT(newDLMax(CVNDataSample))},
        {&m_unitSource, SLOT(newBWUnit(CVNDataSample))}};
    for (const auto& [source, slot] : feeds) {
        if (*source)
            connect(source->get(), SIGNAL(newData(CVNDataSample)), this, slot);
    }
    m_unit = 1;

    auto* graphLayout = new QVBoxLayout(ui->groupBox);
    graphLayout->setSpacing(0);
    graphLayout->setContentsMargins(0, 0, 0, 0);
    if (m_graph)
        graphLayout->addWidget(m_graph);

    m_lanException = m_settings->defaultLanException();
    connect(m_settings, SIGNAL(newDefaultLanException(bool)), this,
            SLOT(newDefaultLanException(bool)));
    connect(m_settings, SIGNAL(calledBWCEnable(bool)), this, SLOT(calledBWCEnable(bool)));
    connect(m_settings, SIGNAL(newActiveCount(int)), this, SLOT(newActiveCount(int)));
    connect(m_settings, SIGNAL(newInactiveCount(int)), this, SLOT(newInactiveCount(int)));

    updateStatus();
    showCounts();
    // The scale starts at 0 and follows the maxima as they are published; a
    // unit source without a value gives unit 0.
    newBWUnit(m_unitSource ? m_unitSource->getSample(-1, -1) : CVNDataSample(QVariant(m_unit)));
}

OverviewPanel::~OverviewPanel()
{
    delete ui;
}

void OverviewPanel::newDefaultLanException(bool bException)
{
    m_lanException = bException;
    updateStatus();
}

void OverviewPanel::calledBWCEnable(bool)
{
    updateStatus();
}

void OverviewPanel::newActiveCount(int nCount)
{
    ui->labelActive->setText(QString::number(nCount));
}

void OverviewPanel::newInactiveCount(int nCount)
{
    ui->labelInactive->setText(QString::number(nCount));
}

void OverviewPanel::newULMax(CVNDataSample)
{
    m_ulMax = m_ulMaxSource->getValue(-1, -1).toUInt();
    updateScale();
}

void OverviewPanel::newDLMax(CVNDataSample)
{
    m_dlMax = m_dlMaxSource->getValue(-1, -1).toUInt();
    updateScale();
}

void OverviewPanel::newBWUnit(CVNDataSample sample)
{
    m_unit = sample.value.toUInt();
    updateScale();
}

void OverviewPanel::OnNetworkStateChange(CNetworkState*)
{
    updateStatus();
}

void OverviewPanel::GraphVisibility()
{
    const std::unique_ptr<QSettings> stored(HostSettings::create());
    m_gather = stored->value(QStringLiteral("GatherPerfStats"), true).toBool();
    const bool visible = m_gather && m_control;
    for (QWidget* part :
         {ui->groupBox, ui->widget, ui->widget_3, static_cast<QWidget*>(ui->label_2)})
        part->setVisible(visible);
}

void OverviewPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    GraphVisibility();
    updateStatus();
    showCounts();
}

void OverviewPanel::updateStatus()
{
    const bool control = m_settings->isBWCEnabled();
    const QString controlText = control ? tr("Enabled") : tr("Disabled");
    const QString lanText = control && m_lanException ? tr("Enabled") : tr("Disabled");
    m_control = control;
    GraphVisibility();
    ui->labelBWC->setText(controlText);
    ui->labelExceptions->setText(lanText);
}

void OverviewPanel::showCounts()
{
    newActiveCount(m_settings->activeCount());
    newInactiveCount(m_settings->inactiveCount());
}

void OverviewPanel::updateScale()
{
    QString unitName;
    UnitConvert::getString(unitName, m_unit);
    ui->labelUnit->setText(unitName + QLatin1String("ps"));
    // The maxima are compared as the signed numbers the service keeps them
    // as; two "no limit" maxima give the top of the unsigned range.
    const double top = qint32(m_ulMax) > qint32(m_dlMax) ? m_ulMax : m_dlMax;
    ui->labelMax->setText(ScaleText::format(quint32(top), m_unit));
    ui->labelMed->setText(ScaleText::format(quint32(top / 2), m_unit));
    if (m_graph)
        m_graph->setRange(0, 0, top);
}
