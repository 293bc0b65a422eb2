#include "suitewindow.h"

#include "datasource.h"
#include "helpviewer.h"
#include "hostapplication.h"
#include "iplugin.h"
#include "serviceport.h"
#include "translatesuitename.h"
#include "unitmenu.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

SuiteWindow::SuiteWindow(IPlugin* plugin, HostApplication* host, QWidget* parent)
    : QMainWindow(parent), m_plugin(plugin), m_host(host), m_splitter(new QSplitter(this)),
      m_tabs(new QTabWidget(m_splitter)),
      m_lanSource(host->getDataSource(QStringLiteral("System.Network.LanExceptions"))),
      m_serviceLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("SuiteWindow"));
    m_tabs->setObjectName(QStringLiteral("moduleTabs"));
    m_splitter->addWidget(m_tabs);
    setCentralWidget(m_splitter);
    statusBar()->addPermanentWidget(m_serviceLabel);
    buildMenus();
    m_unitMenu->publishStored();

    m_plugin->init(m_host);
    QIcon icon;
    QString description;
    m_plugin->getInfo(icon, m_moduleName, description);
    setWindowTitle(QStringLiteral("%1 - %2").arg(TranslateSuiteName::GetSuiteName(), m_moduleName));
    setWindowIcon(icon);
    m_helpAction->setText(tr("%1 &Help").arg(m_moduleName));

    m_main = m_plugin->getPanel(IPlugin::PanelMain);
    QWidget* page = m_main ? m_main.data() : new QLabel(tr("The module offers no main view."));
    // A tab of its own: the view listens to the tab widget's currentChanged.
    m_tabs->addTab(page, icon, m_moduleName);
    m_tabs->setTabToolTip(0, description);
    // The features and overview panels in a column beside the tabs, each at
    // its natural height.
    m_features = m_plugin->getPanel(IPlugin::PanelFeatures);
    m_overview = m_plugin->getPanel(IPlugin::PanelOverview);
    auto* column = new QWidget(m_splitter);
    column->setObjectName(QStringLiteral("panelColumn"));
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* panel : {m_features.data(), m_overview.data()}) {
        if (panel)
            layout->addWidget(panel);
    }
    layout->addStretch(1);
    m_splitter->addWidget(column);
    m_splitter->setStretchFactor(0, 1);
    connect(m_host, &IApplication::serviceIsOnline, this, &SuiteWindow::setServiceOnline);
    setServiceOnline(m_host->isServiceOnline());
    resize(1480, 820);
}

SuiteWindow::~SuiteWindow()
{
    shutdown();
}

void SuiteWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    m_unitMenu =
        new UnitMenu(m_host->getDataSource(QStringLiteral("Application.BandwidthUnit")), this);
    m_unitMenu->setObjectName(QStringLiteral("unitMenu"));
    view->addMenu(m_unitMenu);

    QMenu* options = menuBar()->addMenu(tr("&Options"));
    m_lanAction = options->addAction(tr("&LAN Exceptions"));
    m_lanAction->setObjectName(QStringLiteral("lanExceptionsAction"));
    m_lanAction->setToolTip(tr("Traffic inside the local network is exempt from every limit"));
    m_lanAction->setCheckable(true);
    connect(m_lanAction, &QAction::toggled, this, [this](bool bOn) {
        if (m_lanSource->getValue(-1, -1).toBool() != bOn || m_lanSource->getSampleCount(-1) == 0)
            m_lanSource->publish(bOn);
    });
    connect(m_lanSource.get(), &DataSource::newData, this, &SuiteWindow::OnLanExceptions);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    m_helpAction = help->addAction(tr("&Help"), this, &SuiteWindow::showHelp);
    m_helpAction->setObjectName(QStringLiteral("helpAction"));
    m_helpAction->setShortcut(QKeySequence::HelpContents);
    m_helpAction->setShortcutContext(Qt::ApplicationShortcut);
}

void SuiteWindow::OnLanExceptions(CVNDataSample sample)
{
    const QSignalBlocker blocker(m_lanAction);
    m_lanAction->setChecked(sample.value.toBool());
}

int SuiteWindow::visibleRowCount() const
{
    if (!m_main)
        return 0;
    int rows = 0;
    const QList<QWidget*> children = m_main->findChildren<QWidget*>();
    for (const QWidget* child : children) {
        if (child->inherits("Application") && child->isVisible())
            ++rows;
    }
    return rows;
}

void SuiteWindow::showHelp()
{
    if (!m_help)
        m_help = new HelpViewer(this);
    const QString page = m_plugin ? m_plugin->getHelpFile() : QString();
    m_help->showPage(QDir(QApplication::applicationDirPath()).filePath(page));
}

void SuiteWindow::setServiceOnline(bool bOnline)
{
    m_serviceLabel->setText(
        (bOnline ? tr("Service online on 127.0.0.1:%1") : tr("Service offline (127.0.0.1:%1)"))
            .arg(ServicePort::fromEnvironment()));
}

void SuiteWindow::closeEvent(QCloseEvent* event)
{
    shutdown();
    event->accept();
}

void SuiteWindow::shutdown()
{
    if (!m_plugin)
        return;
    // Every panel holds the module's settings object: they go first.
    delete m_main.data();
    delete m_features.data();
    delete m_overview.data();
    m_plugin->destroy();
    delete m_plugin;
    m_plugin = nullptr;
}
