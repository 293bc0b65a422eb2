#include "modapplications.h"

#include "applicationsettings.h"
#include "applicationview.h"
#include "featurespanel.h"
#include "iapplication.h"
#include "languagecode.h"
#include "modellog.h"
#include "overviewpanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QTranslator>

namespace {

// Kept for the whole process, as a diagnostic of where the module looked.
QString& lastTranslationPath()
{
    static QString path;
    return path;
}

} // namespace

modApplications::modApplications() : BasePlugin(30, 1)
{
    // Translations lie in "localization" beside the host's executable; without
    // that folder the executable's own folder is searched.
    QDir dir(QCoreApplication::applicationDirPath());
    dir.cd(QStringLiteral("localization"));
    const QString code = QLanguageToISO639(QLocale().language());
    m_translator = new QTranslator;
    lastTranslationPath() = dir.absoluteFilePath(QStringLiteral("modapplications_") + code);
    if (m_translator->load(lastTranslationPath(), QString(), QString(), QString()))
        qCDebug(lcModule, "successfully loaded translation file for modapplications - constructor");
    else
        qCDebug(lcModule, "DID NOT load translation file for modapplications");
    QCoreApplication::installTranslator(m_translator);
}

modApplications::~modApplications()
{
    QCoreApplication::removeTranslator(m_translator);
    delete m_translator;
}

int modApplications::init(IApplication* pApp)
{
    // A second init keeps the settings object the panels may already hold and
    // listens to the new host only.
    if (IApplication* previous = application(); previous && previous != pApp)
        disconnect(previous, SIGNAL(serviceIsOnline(bool)), this, SLOT(OnServiceIsOnline(bool)));
    BasePlugin::init(pApp);
    if (pApp)
        connect(pApp, SIGNAL(serviceIsOnline(bool)), this, SLOT(OnServiceIsOnline(bool)),
                Qt::UniqueConnection);
    if (!m_settings)
        m_settings = new ApplicationSettings;
    return 0;
}

int modApplications::destroy()
{
    delete m_settings;
    m_settings = nullptr;
    return BasePlugin::destroy();
}

bool modApplications::isPanelSupported(int nPanel)
{
    return nPanel == PanelMain || nPanel == PanelFeatures || nPanel == PanelOverview;
}

int modApplications::getInfo(QIcon& icon, QString& strName, QString& strDescription)
{
    icon.addFile(QStringLiteral("skins/pluginicon/apps_wt_24.png"), QSize(24, 24), QIcon::Normal,
                 QIcon::Off);
    icon.addFile(QStringLiteral("skins/pluginicon/apps_bk_24.png"), QSize(24, 24), QIcon::Selected,
                 QIcon::Off);
    strName = tr("Applications");
    strDescription = tr("Visualize network usage and tune bandwidth to change how your "
                        "applications access the Internet");
    return 0;
}

QString modApplications::getHelpFile()
{
    return QStringLiteral("Applications.htm");
}

QWidget* modApplications::createMainPanel()
{
    return m_settings ? new ApplicationView(m_settings, application(), nullptr) : nullptr;
}

QWidget* modApplications::createFeaturesPanel()
{
    return m_settings ? new FeaturesPanel(m_settings, application(), nullptr) : nullptr;
}

QWidget* modApplications::createOverviewPanel()
{
    return m_settings ? new OverviewPanel(m_settings, application(), nullptr) : nullptr;
}

void modApplications::OnServiceIsOnline(bool bOnline)
{
    if (bOnline && m_settings)
        m_settings->requestGlobalsAndDefaults();
}
