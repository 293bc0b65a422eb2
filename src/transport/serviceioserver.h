#pragma once

#include "clientidentity.h"
#include "clientmap.h"
#include "inflightledger.h"
#include "serviceio.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <shared_mutex>

class BCI_CancelCommand;
class BCI_Handshake;
class CVServer;
class ClientPolicy;
class QSocketNotifier;

// The serving side of the transport: listens on the loopback address, opens the
// handshake with every client, files each under its session uuid, stamps what
// it receives with that uuid and routes what it sends: a reply to its client,
// a broadcast to every authenticated client. One instance serves the process.
//
// Who a client is gets decided once, as its connection is accepted, by the
// client policy; every request it makes passes that policy in this thread.
// When a client goes, whatever it had queued here goes with it, and a reply
// for a client that is no longer here is dropped, never kept.
//
// A command handed to the owner (NewCommandReceived) is the owner's from the
// moment RetrieveCommand gives it 0 until it is passed to SendCommand; from
// then on it is the transport's, and the owner must not touch it again.
class ServiceIOServer : public ServiceIO
{
    Q_OBJECT
public:
    explicit ServiceIOServer(QObject* parent = nullptr);
    ~ServiceIOServer() override;

    // The process's server, made on first use; null when it cannot listen.
    // Every successful call is balanced by one Release().
    static ServiceIOServer* Acquire(QObject* parent = nullptr);

    void Release() override;
    bool IsServer() const override { return true; }
    bool IsInitialised() const { return m_initialised; }
    // Takes exactly this command off the receive queue, never another with its number.
    int RetrieveCommand(BaseCommandPtr* pCmd) override;

    // The policy for the connections accepted from now on; set it before the
    // server is first acquired. Without one every client is unknown and may
    // make every request.
    static void SetClientPolicy(std::shared_ptr<const ClientPolicy> policy);

    // Requests in flight for all the sessions of one user together (see
    // MaxUnclaimedPerPeer for one session): beyond it, that user's
    // connections are not read until the owner catches up.
    static constexpr int MaxInFlightPerUser = 96;
    // Commands written (or dropped) in one pass before other events get a turn.
    static constexpr int MaxWritesPerPass = 256;
    // Connections served at once, handshaking or not; more are closed at once.
    static constexpr int MaxConnections = 128;
    // A connection must complete its handshake within this time.
    static constexpr int HandshakeDeadlineMS = 3000;
    // Pause after accepting failed (no descriptor left, say); it doubles up to the maximum.
    static constexpr int AcceptRetryMS = 50;
    static constexpr int AcceptRetryMaxMS = 1000;

protected slots:
    void OnNewConnection();
    void OnNewData() override;
    void OnDisconnect() override;
    void OnQueuedToSend() override;
    void OnAcceptReady();

protected:
    QUuid GetOwnerID(QTcpSocket* socket) override;
    bool IsHandshakeComplete(QTcpSocket* socket) override;
    void OnProtocolCommand(QTcpSocket* socket, BaseCommandPtr cmd) override;
    bool OnQueueRecvCommand(QTcpSocket* socket, BaseCommandPtr cmd) override;
    QList<QTcpSocket*> Peers() override;
    bool MayTakeMore(QTcpSocket* socket) override;
    void OnQueueChanged(const BaseCommand& cmd, bool bSend, int count) override;

private:
    template <class> friend class ThreadWrapper;

    bool Init();
    // Closes every socket and the listener; in the transport thread once its loop ended.
    void TearDown();
    void OnHandshake(QTcpSocket* socket, const BaseCommandPtr& cmd, BCI_Handshake* handshake);
    void OnCancel(QTcpSocket* socket, const BaseCommandPtr& cmd, BCI_CancelCommand* cancel);
    // Writes one command taken off the send queue to its client, or to every
    // client; a reply whose client is gone is dropped. Gives whether it was a reply.
    bool Route(const BaseCommandPtr& cmd);
    // Drops everything a session that ended had queued; under the clients lock.
    void ForgetSession(const QUuid& session);
    int ConnectionCount();

    // What the transport thread keeps about a connection, from its accept on.
    struct Peer
    {
        ClientIdentity identity;
        std::shared_ptr<const ClientPolicy> policy;
        bool refusalLogged = false;
    };

    // Accepting is driven by a notifier of our own rather than the listener's,
    // so that a failing accept (no descriptor left) can back off instead of
    // being retried at once, for ever, by the event loop.
    QSocketNotifier* m_acceptNotifier = nullptr;
    int m_acceptedThisRound = 0;
    int m_acceptRetryMS = 0;
    bool m_capLogged = false;

    bool m_initialised = false;
    CVServer* m_listener = nullptr;
    ClientMap m_clients;
    // Lookups read, the handshake and disconnects write. Never taken recursively.
    std::shared_mutex m_clientsLock;
    QSet<QTcpSocket*> m_freshClients;
    RecursiveLock m_freshLock;
    // Transport thread only.
    QHash<QTcpSocket*, Peer> m_peers;
    InFlightLedger m_ledger;
    // Received commands whose delivery the owner has not yet tried to claim; under the receive
    // lock.
    QHash<const BaseCommand*, BaseCommandPtr> m_undelivered;
};
