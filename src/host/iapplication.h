#pragma once

#include "datasourcehandle.h"
#include "hostexport.h"

#include <QObject>
#include <QUuid>

class IGraphWidget;
class QWidget;

// The host's description of the network (adapters, addresses); modules only
// pass it on, so it stays opaque here.
class CNetworkState;
Q_DECLARE_OPAQUE_POINTER(CNetworkState*)

// What a module may ask of the host application it runs in.
class BWCHOST_EXPORT IApplication : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The data source of that name, shared by everyone who asks for it; a
    // source is created on the first request. Null only for an empty name.
    virtual DataSourceHandle getDataSource(const QString& strName) = 0;
    // A new graph widget for a known identifier (see
    // IGraphWidget::bandwidthGraphId()), owned by the caller; null otherwise.
    virtual IGraphWidget* createGraphWidget(const QUuid& id, QWidget* parent) = 0;

signals:
    // The background service came online (true) or went away (false).
    void serviceIsOnline(bool bOnline);
    void networkStateChanged(CNetworkState* pState);
};
