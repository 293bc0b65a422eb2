#pragma once

#include "hostexport.h"
#include "iapplication.h"

#include <QIcon>
#include <QObject>
#include <QString>

class QWidget;

// What the host asks of a plug-in module. The host finds the interface on the
// object a module hands out with qobject_cast<IPlugin*>, which goes through
// the module's qt_metacast with the identifier below; plug-ins derive from
// BasePlugin, which answers for it.
//
// The operations are slots, so that a host that knows a module only through
// its meta-object can find and call them by name.
//
// Panels are created without a parent and handed to the host, which owns
// them and must dispose of them before calling destroy().
class BWCHOST_EXPORT IPlugin : public QObject
{
    Q_OBJECT
public:
    enum Panel
    {
        PanelMain = 0,
        PanelFeatures = 1,
        PanelOverview = 2
    };

    using QObject::QObject;

public slots:
    // Called once after loading with the host; 0 on success.
    virtual int init(IApplication* pApp) = 0;
    // Called once before unloading; 0 on success.
    virtual int destroy() = 0;
    // The panel for a Panel number, or null.
    virtual QWidget* getPanel(int nPanel) = 0;
    virtual bool isPanelSupported(int nPanel) = 0;
    // Fills in the module's icon, name and description; 0 on success.
    virtual int getInfo(QIcon& icon, QString& strName, QString& strDescription) = 0;
    // Where the module goes among the host's modules; lower comes first.
    virtual int getPriority() = 0;
    // Drops unapplied changes; 0 on success.
    virtual int reset() = 0;
    // Whether the module holds changes that apply() would commit.
    virtual bool isChanged() = 0;
    // Commits pending changes; 0 on success.
    virtual int apply() = 0;
    virtual int getVersion() = 0;
    // File name of the module's help page, relative to the host's help folder.
    virtual QString getHelpFile() = 0;
    virtual QWidget* createMainPanel() = 0;
    virtual QWidget* createFeaturesPanel() = 0;
    virtual QWidget* createOverviewPanel() = 0;
    // A panel for a small external display, or null.
    virtual QWidget* createLCDPanel() = 0;
    // Called periodically by the host from a worker thread.
    virtual void threadUpdate() = 0;
};

#define BWC_IPLUGIN_IID "zad.aduzuridadevav.NetDeck.IPlugin/1.0"
Q_DECLARE_INTERFACE(IPlugin, BWC_IPLUGIN_IID)
