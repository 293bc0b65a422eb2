#include "basecommandtimer.h"

BaseCommandTimer::BaseCommandTimer(BaseCommandPtr cmd, QObject* parent)
    : QTimer(parent), m_cmd(std::move(cmd))
{
    setSingleShot(true);
    connect(this, SIGNAL(timeout()), this, SLOT(OnTimeout()));
}

BaseCommandTimer::~BaseCommandTimer()
{
    m_cmd.reset();
}

void BaseCommandTimer::OnTimeout()
{
    if (m_cmd)
        m_cmd->SetStatus(BCS_TIMED_OUT);
    m_timedOut = true;
    emit CommandTimedOut(m_cmd);
}
