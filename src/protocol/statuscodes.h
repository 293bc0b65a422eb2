#pragma once

#include <QtGlobal>

// One signed 32-bit code space: a command's status and the result of every
// protocol and transport operation.
enum BaseCommandStatus : qint32
{
    BCS_QUEUED = 2,
    BCS_SUCCESS = 1,
    BCS_SENT = 0,
    BCS_TIMED_OUT = -64993,
    BCS_INVALID = -64994,
    BCS_INCOMPLETE = -64995,
    BCS_UNSUPPORTED = -64996,
    BCS_WRITE_FAILED = -64997,
    BCS_NULL_COMMAND = -64998,
    BCS_NOT_INITIALIZED = -64999,
    BCS_SEND_FAILED = -65000,
};

// The name of a status code ("BCS_INVALID"), or nullptr for a value outside the table.
const char* StatusName(qint32 status);
