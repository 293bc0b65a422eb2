#pragma once

#include "basecommand.h"

#include <QList>
#include <QObject>

class ServiceIO;

// The service's side of the conversation, on the project's own server in this
// process: it records every request and answers the settings requests the way
// the service does, with values and a status the test chooses.
class FakeService : public QObject
{
    Q_OBJECT
public:
    explicit FakeService(ServiceIO* server);

    // Values of the next replies, in the service's units.
    qint32 defaultsUp = -1;
    qint32 defaultsDown = -1;
    qint32 defaultsPriority = 2;
    qint32 defaultsLan = 0;
    qint32 globalsUp = 187500;
    qint32 globalsDown = 1250000;
    bool globalsEnabled = true;
    qint32 replyStatus = BCS_SUCCESS;

    QList<BaseCommandPtr> requests() const { return m_requests; }
    QList<quint32> requestTypes() const;
    void clear() { m_requests.clear(); }
    // The reply values above back to their initial values, and no requests.
    void restart();
    // The last request of class T, or null.
    template <class T> T* last() const
    {
        for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it) {
            if (T* cmd = command_cast<T>(*it))
                return cmd;
        }
        return nullptr;
    }

    void broadcastGlobals(qint32 nUp, qint32 nDown, bool bEnabled, qint32 nStatus = BCS_SUCCESS);

private slots:
    void OnRequest(BaseCommandPtr cmd);

private:
    ServiceIO* m_server;
    QList<BaseCommandPtr> m_requests;
};
