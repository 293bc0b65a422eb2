#pragma once

#include "cvndatasample.h"
#include "datasourcehandle.h"

#include <QMenu>

class QActionGroup;

// The host's choice of the unit every rate is shown in: six exclusive items
// bound both ways to the "Application.BandwidthUnit" source, so a choice made
// here reaches the module and one made in the module shows here. The last
// choice is kept in the suite's settings.
class UnitMenu : public QMenu
{
    Q_OBJECT
public:
    static constexpr quint32 DefaultUnit = 3; // Kbps

    UnitMenu(const DataSourceHandle& source, QWidget* parent = nullptr);

    // Publishes the stored unit (at start-up, before the module reads it).
    void publishStored();
    quint32 currentUnit() const;

private slots:
    void OnTriggered(QAction* action);
    void OnNewData(CVNDataSample sample);

private:
    DataSourceHandle m_source;
    QActionGroup* m_group;
};
