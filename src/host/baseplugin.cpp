#include "baseplugin.h"

#include <QIcon>

BasePlugin::BasePlugin(int nPriority, int nVersion) : m_priority(nPriority), m_version(nVersion) {}

BasePlugin::~BasePlugin() = default;

int BasePlugin::init(IApplication* pApp)
{
    m_app = pApp;
    return 0;
}

int BasePlugin::destroy()
{
    m_app = nullptr;
    return 0;
}

QWidget* BasePlugin::getPanel(int nPanel)
{
    switch (nPanel) {
    case PanelMain:
        return createMainPanel();
    case PanelFeatures:
        return createFeaturesPanel();
    case PanelOverview:
        return createOverviewPanel();
    default:
        return nullptr;
    }
}

bool BasePlugin::isPanelSupported(int)
{
    return false;
}

int BasePlugin::getInfo(QIcon&, QString& strName, QString& strDescription)
{
    strName = QString::fromLatin1(metaObject()->className());
    strDescription.clear();
    return 0;
}

int BasePlugin::getPriority()
{
    return m_priority;
}

int BasePlugin::reset()
{
    m_changed = false;
    return 0;
}

bool BasePlugin::isChanged()
{
    return m_changed;
}

int BasePlugin::apply()
{
    m_changed = false;
    return 0;
}

int BasePlugin::getVersion()
{
    return m_version;
}

QString BasePlugin::getHelpFile()
{
    return QString();
}

QWidget* BasePlugin::createMainPanel()
{
    return nullptr;
}

QWidget* BasePlugin::createFeaturesPanel()
{
    return nullptr;
}

QWidget* BasePlugin::createOverviewPanel()
{
    return nullptr;
}

QWidget* BasePlugin::createLCDPanel()
{
    return nullptr;
}

void BasePlugin::threadUpdate() {}
