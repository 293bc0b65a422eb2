// What the application view does when the user works on the list: caps,
// block, priority, hiding and selection, and the order and filter of rows.

#include "applicationview.h"

#include "appdetails.h"
#include "bandwidthbar.h"
#include "bwccommands.h"
#include "ui_applicationview.h"
#include "unitconvert.h"

#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const char* const keyShowAll = "ShowAllApps";
const char* const keySortType = "SortType";
constexpr qint32 limitDefault = -2;

// Runs change on row without the row announcing it: the view applies one
// user action to the other instances of an application and must not hear
// about it again from each of them.
template <class Change> void quietly(const AppPtr& row, Change change)
{
    const bool notify = row->notifies();
    row->setNotify(false);
    change();
    row->setNotify(notify);
}

bool isRunning(const AppPtr& row)
{
    return row->entry() && !row->entry()->idList.isEmpty();
}

} // namespace

template <class Change> void ApplicationView::sendForSame(const AppPtr& pApp, Change change)
{
    if (!pApp)
        return;
    QMutexLocker locker(&m_mutex);
    QList<AppPtr> same;
    m_list.findSame(pApp->name(), pApp->process().filePath, same);
    for (const AppPtr& row : std::as_const(same)) {
        const BWCEntryPtr entry = row->entry();
        if (!entry)
            continue;
        change(*entry);
        if (m_quietBlock)
            continue;
        auto* cmd = new BCI_BWCSetAppSettings;
        cmd->setEntry(entry);
        send(cmd);
    }
}

// The row the user worked on shows the change already; the other instances
// show it when the service reports them again.
void ApplicationView::uploadMaxChanged(AppPtr pApp, quint32 nValue)
{
    sendForSame(pApp, [&](BWCEntry& entry) {
        entry.uploadMax = qint32(UnitConvert::BPStoUINT(nValue, UnitConvert::Bytes));
    });
}

void ApplicationView::downloadMaxChanged(AppPtr pApp, quint32 nValue)
{
    sendForSame(pApp, [&](BWCEntry& entry) {
        entry.downloadMax = qint32(UnitConvert::BPStoUINT(nValue, UnitConvert::Bytes));
    });
}

void ApplicationView::blockApp(bool bBlock, AppPtr papp)
{
    sendForSame(papp, [&](BWCEntry& entry) {
        entry.uploadMax = entry.downloadMax = bBlock ? 0 : limitDefault;
    });
}

void ApplicationView::appTypeChanged(qint32 nType, AppPtr papp)
{
    if (!papp)
        return;
    QMutexLocker locker(&m_mutex);
    // The row still holds its old priority; it stores the new one after this.
    const bool crossesHighest = (papp->priority() == 0) != (nType == 0);
    if (!papp->isOffline() && m_list.indexOf(papp) >= 0 && crossesHighest) {
        // The name is what a program's desktop entry says: shown as text.
        QMessageBox box(QMessageBox::Warning, tr("Restart Program"),
                        tr("%1 is currently running. To see the effects of this priority "
                           "change you must restart it.")
                            .arg(papp->name()),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    QList<AppPtr> same;
    m_list.findSame(papp->name(), papp->process().filePath, same);
    for (const AppPtr& row : std::as_const(same)) {
        // The highest priority allows the application; that change travels
        // in the same command as the priority.
        m_quietBlock = true;
        quietly(row, [&] { row->setPriority(quint32(nType)); });
        m_quietBlock = false;
        const BWCEntryPtr entry = row->entry();
        if (!entry)
            continue;
        if (nType >= 0 && nType <= 3) {
            entry->highest = nType == 0;
            entry->priority = nType == 0 ? 1 : nType;
        }
        auto* cmd = new BCI_BWCSetAppSettings;
        cmd->setEntry(entry);
        send(cmd);
    }
}

void ApplicationView::showDetails(AppPtr pApp)
{
    if (!pApp)
        return;
    AppDetails details(pApp, this);
    if (details.exec() != 1)
        return;
    QMutexLocker locker(&m_mutex);
    clearSelection();
    QList<AppPtr> same;
    m_list.findSame(pApp->name(), pApp->process().filePath, same);
    for (const AppPtr& row : std::as_const(same)) {
        if (row->entry()) {
            auto* cmd = new BCI_BWCRemoveAppSettings;
            cmd->setEntry(row->entry());
            send(cmd);
        }
        m_list.remove(row);
        dropRow(row);
    }
    reshade();
}

void ApplicationView::selected(AppPtr pSelected)
{
    if (!pSelected)
        return;
    if (pSelected != m_selected) {
        if (m_selected)
            m_selected->setState(0);
        m_selected = pSelected;
        m_selected->setState(1);
    } else {
        m_selected->setState(m_selected->state() == 1 ? 0 : 1);
    }
}

void ApplicationView::reselected()
{
    if (m_selected)
        selected(m_selected);
}

void ApplicationView::deselected(int)
{
    clearSelection();
}

void ApplicationView::on_comboBoxSort_currentIndexChanged(int index)
{
    if (index < 0 || index == m_sortIndex)
        return;
    m_sortIndex = index;
    m_settings->setValue(QLatin1String(keySortType), index);
    applySort();
}

void ApplicationView::applySort()
{
    QMutexLocker locker(&m_mutex);
    m_rowsLayout->setEnabled(false);
    m_list.setSortType(m_sortIndex);
    bool moved = false;
    for (int i = 0; i < m_list.count(); ++i) {
        const AppPtr row = m_list.at(i);
        if (!row)
            continue;
        // Every listed row is in the layout, so a row is in place exactly when
        // the layout holds it at its display position.
        QLayoutItem* item = m_rowsLayout->itemAt(i);
        if (item && item->widget() == row.data())
            continue;
        m_rowsLayout->removeWidget(row.data());
        m_rowsLayout->insertWidget(i, row.data());
        moved = true;
    }
    m_rowsLayout->setEnabled(true);
    // Rows that show or hide are shaded again where that happens; an order
    // that stayed as it was (most seconds) leaves the shades as they are.
    if (moved)
        reshade();
}

void ApplicationView::on_checkBoxOfflineApps_stateChanged(int state)
{
    QMutexLocker locker(&m_mutex);
    m_rowsLayout->setEnabled(false);
    m_showAll = state != Qt::Checked;
    m_settings->setValue(QLatin1String(keyShowAll), m_showAll);
    if (!m_showAll) {
        for (int i = 0; i < m_list.count(); ++i) {
            const AppPtr row = m_list.at(i);
            if (row && !isRunning(row))
                row->setVisible(false);
        }
    } else {
        // Of several stopped instances of one program, the first is enough.
        QStringList shownPaths;
        for (int i = 0; i < m_list.count(); ++i) {
            const AppPtr row = m_list.at(i);
            if (!row || isRunning(row) || shownPaths.contains(row->process().filePath))
                continue;
            row->setVisible(true);
            shownPaths.append(row->process().filePath);
        }
    }
    m_rowsLayout->setEnabled(true);
    reshade();
}

// Replies come in bursts (hundreds of process descriptions after an
// enumeration), and every row whose shade flips gets a new style sheet, which
// re-polishes all its widgets: the shading is brought up to date once, after
// the replies already waiting.
void ApplicationView::scheduleReshade()
{
    if (m_reshadePending)
        return;
    m_reshadePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_reshadePending)
                reshade();
        },
        Qt::QueuedConnection);
}

void ApplicationView::reshade()
{
    m_reshadePending = false;
    QMutexLocker locker(&m_mutex);
    m_rowsLayout->setEnabled(false);
    bool alternate = false;
    for (int i = 0; i < m_list.count(); ++i) {
        const AppPtr row = m_list.at(i);
        if (!row || !row->isVisible())
            continue;
        row->setAlternate(alternate);
        alternate = !alternate;
    }
    m_rowsLayout->setEnabled(true);
}
