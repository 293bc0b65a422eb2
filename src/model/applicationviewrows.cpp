// How the application view turns the service's entries into rows: creation,
// priority and limits of a new row, and its place in the list and layout.

#include "applicationsettings.h"
#include "applicationview.h"
#include "bandwidthbar.h"

#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int rowHeight = 54;
constexpr qint32 limitDefault = -2;

} // namespace

AppPtr ApplicationView::createRow(const QString& name, const Process& process,
                                  const BWCEntryPtr& entry)
{
    // Made inside the rows container, where the layout puts it: moving a row
    // there later would style every one of its widgets a second time.
    auto* widget = new Application(m_rows);
    const AppPtr row = widget->appPtr();
    row->setState(0);
    row->resize(row->width(), rowHeight);
    row->setName(name);
    connect(widget, SIGNAL(select(AppPtr)), this, SLOT(selected(AppPtr)));
    connect(widget, SIGNAL(uploadMaxChanged(AppPtr, quint32)), this,
            SLOT(uploadMaxChanged(AppPtr, quint32)));
    connect(widget, SIGNAL(downloadMaxChanged(AppPtr, quint32)), this,
            SLOT(downloadMaxChanged(AppPtr, quint32)));
    connect(widget, SIGNAL(blockApp(bool, AppPtr)), this, SLOT(blockApp(bool, AppPtr)));
    connect(widget, SIGNAL(appTypeChanged(qint32, AppPtr)), this,
            SLOT(appTypeChanged(qint32, AppPtr)));
    connect(widget, SIGNAL(showDetails(AppPtr)), this, SLOT(showDetails(AppPtr)));
    row->setProcess(process);
    row->setEntry(entry);
    row->setIcon(process.icon);
    return row;
}

void ApplicationView::applyPriority(const AppPtr& row, bool highest, qint32 priority)
{
    if (priority == limitDefault && m_appSettings)
        priority = qint32(m_appSettings->defaultPriority());
    quint32 index = 2;
    if (highest)
        index = 0;
    else if (priority == 1)
        index = 1;
    else if (priority == 3)
        index = 3;
    row->setPriority(index);
}

void ApplicationView::applyLimits(const AppPtr& row, qint32 up, qint32 down)
{
    const quint32 globalUp = m_appSettings ? m_appSettings->globalUL() : 0;
    const quint32 globalDown = m_appSettings ? m_appSettings->globalDL() : 0;
    BandwidthBar* upBar = row->uploadBar();
    BandwidthBar* downBar = row->downloadBar();
    upBar->setRateRange(8, globalUp);
    downBar->setRateRange(8, globalDown);
    upBar->setUnit(m_unit);
    downBar->setUnit(m_unit);

    const auto blockRow = [&] {
        upBar->setLimit(globalUp);
        downBar->setLimit(globalDown);
        row->setBlocked(true);
    };
    if (up == 0 || down == 0) {
        blockRow();
    } else {
        row->setBlocked(false);
        if (up == limitDefault)
            up = m_appSettings ? m_appSettings->defaultUL() : -1;
        if (down == limitDefault)
            down = m_appSettings ? m_appSettings->defaultDL() : -1;
        if (up == 0 || down == 0) {
            blockRow();
        } else {
            // No limit (-1, and any other code) shows the whole scale.
            const auto shown = [](qint32 limit, quint32 global) {
                return limit < 0 ? global : quint32(std::min(limit, qint32(global)));
            };
            upBar->setLimit(shown(up, globalUp));
            downBar->setLimit(shown(down, globalDown));
        }
    }
    upBar->setCurrent(0);
    downBar->setCurrent(0);
    row->setPriority(row->priority());
}

void ApplicationView::addApplication(const QString& name, const Process& process, qint32 up,
                                     qint32 down, const BWCEntryPtr& entry)
{
    m_rowsLayout->setEnabled(false);
    QMutexLocker locker(&m_mutex);

    QList<AppPtr> same;
    m_list.findSame(name, process.filePath, same);
    const auto replaced = std::find_if(same.cbegin(), same.cend(), [&](const AppPtr& old) {
        return old->entryKey() == entry->id;
    });
    // The service reports a listed application again whenever it restarts or
    // the list is enumerated again. Its row takes the new entry in place of a
    // new row: building a row costs far more than the report is worth.
    const AppPtr reused = replaced != same.cend() ? *replaced : AppPtr();
    const AppPtr row = reused ? reused : createRow(name, process, entry);
    if (reused) {
        // Out of the list while it is set up, as a new row would be: the
        // highest priority's implied "allow" is meant for the other instances.
        m_list.remove(reused);
        refreshRow(reused, name, process, entry);
    }
    applyPriority(row, entry->highest, entry->priority);
    // The limits apply the priority again for its bar modes; its implied
    // "allow" has reached the other instances once already.
    m_quietBlock = true;
    applyLimits(row, up, down);
    m_quietBlock = false;

    bool selectionMoves = false;
    for (const AppPtr& old : std::as_const(same)) {
        if (old == m_selected) {
            clearSelection();
            selectionMoves = true;
        }
        if (old != row && old->entryKey() == entry->id) {
            m_list.remove(old);
            dropRow(old);
        }
    }

    m_list.add(row);
    const int position = m_list.indexOf(row);
    if (position >= 0 && m_rowsLayout->indexOf(row.data()) != position) {
        m_rowsLayout->removeWidget(row.data());
        m_rowsLayout->insertWidget(position, row.data());
    }

    const bool running = !entry->idList.isEmpty();
    row->setVisible(running || m_showAll);
    row->setOffline(!running);

    if (selectionMoves)
        m_selected = row;
    row->setState(selectionMoves ? 1 : 0);
    scheduleReshade();
    if (m_selected) {
        m_selected->setState(0);
        m_selected->setState(1);
    }
    row->setNotify(true);
    m_rowsLayout->setEnabled(true);
}

void ApplicationView::refreshRow(const AppPtr& row, const QString& name, const Process& process,
                                 const BWCEntryPtr& entry)
{
    // Silent while it is set up again, like a new row. A drag under way goes
    // on: its bar keeps what the user drags and reports it on release.
    row->setNotify(false);
    row->setState(0);
    row->setName(name);
    row->setProcess(process);
    row->setEntry(entry);
    row->setIcon(process.icon);
}

void ApplicationView::dropRow(const AppPtr& row)
{
    m_rowsLayout->removeWidget(row.data());
    // Still a child until its last pointer goes; it must not stand over the
    // rows that stay.
    row->hide();
}

void ApplicationView::clearSelection()
{
    if (m_selected)
        m_selected->setState(0);
    m_selected.clear();
}
