#pragma once

#include "hostexport.h"
#include "iplugin.h"

// The base every plug-in module derives from: it keeps the host pointer and
// gives every operation a plain default, so a module overrides only what it
// offers. getPanel maps the Panel numbers to the three create operations.
class BWCHOST_EXPORT BasePlugin : public IPlugin
{
    Q_OBJECT
    Q_INTERFACES(IPlugin)
public:
    // nPriority is what getPriority() answers, nVersion what getVersion() does.
    BasePlugin(int nPriority, int nVersion);
    ~BasePlugin() override;

    // The host given to init(), null before it and after destroy().
    IApplication* application() const { return m_app; }

public slots:
    int init(IApplication* pApp) override;
    int destroy() override;
    QWidget* getPanel(int nPanel) override;
    // The base offers no panel; modules that create panels say which.
    bool isPanelSupported(int nPanel) override;
    // The class name as the name, no description, the icon untouched.
    int getInfo(QIcon& icon, QString& strName, QString& strDescription) override;
    int getPriority() override;
    int reset() override;
    bool isChanged() override;
    int apply() override;
    int getVersion() override;
    QString getHelpFile() override;
    QWidget* createMainPanel() override;
    QWidget* createFeaturesPanel() override;
    QWidget* createOverviewPanel() override;
    QWidget* createLCDPanel() override;
    void threadUpdate() override;

protected:
    // A module with settings of its own marks them changed until apply() or
    // reset() clears the mark.
    void setChanged(bool bChanged) { m_changed = bChanged; }

private:
    IApplication* m_app = nullptr;
    const int m_priority;
    const int m_version;
    bool m_changed = false;
};
