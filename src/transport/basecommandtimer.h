#pragma once

#include "basecommand.h"

#include <QTimer>

// The time-out of one request: a single-shot timer that marks its command
// BCS_TIMED_OUT and reports it. It lives in the transport's thread.
class BaseCommandTimer : public QTimer
{
    Q_OBJECT
public:
    BaseCommandTimer(BaseCommandPtr cmd, QObject* parent);
    ~BaseCommandTimer() override;

    BaseCommandPtr Command() const { return m_cmd; }
    bool HasTimedOut() const { return m_timedOut; }

signals:
    void CommandTimedOut(BaseCommandPtr cmd);

protected slots:
    void OnTimeout();

private:
    BaseCommandPtr m_cmd;
    bool m_timedOut = false;
};
