#include "transportlog.h"

Q_LOGGING_CATEGORY(lcTransport, "bwc.transport", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTransportQueues, "bwc.transport.queues", QtCriticalMsg)
