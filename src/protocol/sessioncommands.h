#pragma once

// Session commands: the connection's own handshake and cancel.

#include "commanddecl.h"

#define BWC_FIELDS_InitComm BWC_NO_FIELDS
#define BWC_FIELDS_Handshake(F)                                                                    \
    F(quint16, version, setVersion, 1)                                                             \
    F(QUuid, sessionId, setSessionId, QUuid())
#define BWC_FIELDS_CancelCommand(F) F(quint32, targetSequence, setTargetSequence, 0)

#define BWC_SESSION_COMMANDS(X)                                                                    \
    X(InitComm, 0x1001)                                                                            \
    X(Handshake, 0x1002)                                                                           \
    X(CancelCommand, 0x1003)

BWC_SESSION_COMMANDS(BWC_DECLARE_LISTED)
