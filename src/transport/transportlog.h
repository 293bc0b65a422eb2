#pragma once

#include <QLoggingCategory>

// The transport's diagnostics. Debug lines are off unless asked for:
//   QT_LOGGING_RULES="bwc.transport.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcTransport)
// What was still queued when a transport went away. A client that closes has
// requests in flight as a matter of course, so even the dump's heading is
// off unless asked for: QT_LOGGING_RULES="bwc.transport.queues=true"
Q_DECLARE_LOGGING_CATEGORY(lcTransportQueues)
