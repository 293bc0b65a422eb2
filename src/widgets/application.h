#pragma once

#include "bwcentry.h"
#include "process.h"

#include <QMetaType>
#include <QPixmap>
#include <QSharedPointer>
#include <QWeakPointer>
#include <QWidget>

class BandwidthBar;
class Application;
namespace Ui {
class ApplicationClass;
}

// Rows are owned only through this pointer; the last one to go disposes of the
// row with deleteLater.
using AppPtr = QSharedPointer<Application>;

// One row of the application list and, at the same time, the record of that
// application: its process description, its bandwidth-control entry, its name
// and icon, priority and block state, and the upload and download bars. User
// actions on the row become signals that carry the row's own AppPtr.
class Application : public QWidget
{
    Q_OBJECT

public:
    explicit Application(QWidget* parent = nullptr);
    ~Application() override;

    // The first call makes the owning pointer; later calls share it, and give
    // null once the last owner has gone and the row is being deleted.
    AppPtr appPtr();

    void setProcess(const Process& process);
    const Process& process() const { return m_process; }
    void setName(const QString& name);
    QString name() const { return m_name; }
    void setIcon(const QPixmap& icon);
    void setEntry(const BWCEntryPtr& entry);
    BWCEntryPtr entry() const { return m_entry; }
    QString entryKey() const;

    BandwidthBar* uploadBar() const { return m_upload; }
    BandwidthBar* downloadBar() const { return m_download; }
    int uploadValue() const;
    int downloadValue() const;

    bool isBlocked() const { return m_blocked; }
    void setBlocked(bool blocked);
    // 0 (highest) to 3 (low); larger values are ignored.
    quint32 priority() const { return m_priority; }
    void setPriority(quint32 priority);
    bool isOffline() const { return m_offline; }
    void setOffline(bool offline);
    // 1 selected, anything else not selected.
    int state() const { return m_state; }
    void setState(int state);
    bool isAlternate() const { return m_alternate; }
    void setAlternate(bool alternate);
    // While off, the combo boxes and the details button change the row but
    // emit nothing.
    bool notifies() const { return m_notify; }
    void setNotify(bool notify);

signals:
    void select(AppPtr app);
    void uploadMaxChanged(AppPtr app, quint32 bps);
    void downloadMaxChanged(AppPtr app, quint32 bps);
    void appTypeChanged(qint32 type, AppPtr app);
    void blockApp(bool block, AppPtr app);
    void showDetails(AppPtr app);

public slots:
    void mouseMoveDone(BandwidthBar* bar, quint32 bps);
    void on_comboAppType_currentIndexChanged(int index);
    void on_comboFirewall_currentIndexChanged(int index);
    void on_buttonDetails_clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    AppPtr self() const { return m_self.toStrongRef(); }
    void showPriorityImage(bool blocked, quint32 priority);
    void setBarsMode(quint32 mode);
    void setBarsEnabled(bool enabled);
    // Places the bars and tells them their room; the row's size, its state
    // and the bars' area coming into view change it.
    void layoutBars();
    // The background as the row's state and place ask: selected, dark or light.
    QColor shade() const;
    // Repaints the background and colours the name (selected, offline or not).
    void applyShade();
    // The name, elided to the room the label has.
    void showName();

    Ui::ApplicationClass* ui;
    BandwidthBar* m_upload = nullptr;
    BandwidthBar* m_download = nullptr;
    Process m_process;
    QString m_name;
    bool m_blocked = false;
    quint32 m_priority = 2;
    BWCEntryPtr m_entry;
    QPixmap m_icon;
    int m_state = 0;
    bool m_alternate = false;
    bool m_offline = false;
    // Whether the name has the colour of the offline flag (set by
    // setOffline) or the selected row's black (set by selecting the row).
    bool m_nameColoured = true;
    QWeakPointer<Application> m_self;
    bool m_ownerMade = false;
    bool m_notify = false;
};

Q_DECLARE_METATYPE(AppPtr)
