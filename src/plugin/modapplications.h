#pragma once

#include "baseplugin.h"

class ApplicationSettings;
class QTranslator;

// The Applications module as the host sees it: it installs the module's
// translation, owns the one settings object from init() to destroy(), names
// the module, its icons and its help page, and makes the three panels on the
// host's request. The host owns the panels and must dispose of them before
// destroy(), since each holds the settings object.
class modApplications : public BasePlugin
{
    Q_OBJECT
    Q_INTERFACES(IPlugin)

public:
    modApplications();
    ~modApplications() override;

public slots:
    int init(IApplication* pApp) override;
    int destroy() override;
    bool isPanelSupported(int nPanel) override;
    int getInfo(QIcon& icon, QString& strName, QString& strDescription) override;
    QString getHelpFile() override;
    QWidget* createMainPanel() override;
    QWidget* createFeaturesPanel() override;
    QWidget* createOverviewPanel() override;
    // A service that came online gets asked for the globals and defaults.
    void OnServiceIsOnline(bool bOnline);

private:
    ApplicationSettings* m_settings = nullptr;
    QTranslator* m_translator = nullptr;
};
