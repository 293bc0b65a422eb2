#include "unitmenu.h"

#include "datasource.h"
#include "hostsettings.h"
#include "unitconvert.h"

#include <QActionGroup>
#include <QSettings>

#include <memory>

namespace {
const QString storedKey = QStringLiteral("Host/BandwidthUnit");
}

UnitMenu::UnitMenu(const DataSourceHandle& source, QWidget* parent)
    : QMenu(tr("&Units"), parent), m_source(source), m_group(new QActionGroup(this))
{
    for (quint32 unit = 0; unit < UnitConvert::UnitCount; ++unit) {
        QString name;
        UnitConvert::getString(name, unit);
        QString full;
        UnitConvert::getFullString(full, unit);
        QAction* action = addAction(name + QLatin1String("ps"));
        action->setToolTip(full);
        action->setCheckable(true);
        action->setData(unit);
        m_group->addAction(action);
    }
    connect(m_group, &QActionGroup::triggered, this, &UnitMenu::OnTriggered);
    connect(m_source.get(), &DataSource::newData, this, &UnitMenu::OnNewData);
}

void UnitMenu::publishStored()
{
    const std::unique_ptr<QSettings> stored(HostSettings::create());
    quint32 unit = stored->value(storedKey, DefaultUnit).toUInt();
    if (unit >= UnitConvert::UnitCount)
        unit = DefaultUnit;
    m_source->publish(unit);
}

quint32 UnitMenu::currentUnit() const
{
    QAction* checked = m_group->checkedAction();
    return checked ? checked->data().toUInt() : DefaultUnit;
}

void UnitMenu::OnTriggered(QAction* action)
{
    const quint32 unit = action->data().toUInt();
    if (m_source->getValue(-1, -1).toUInt() != unit || m_source->getSampleCount(-1) == 0)
        m_source->publish(unit);
}

void UnitMenu::OnNewData(CVNDataSample sample)
{
    const quint32 unit = sample.value.toUInt();
    const QList<QAction*> actions = m_group->actions();
    if (unit < quint32(actions.size()))
        actions[int(unit)]->setChecked(true);
    const std::unique_ptr<QSettings> stored(HostSettings::create());
    stored->setValue(storedKey, unit);
}
