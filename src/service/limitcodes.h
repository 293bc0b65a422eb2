#pragma once

#include <QtGlobal>

// The values a limit can take on the wire. Per-application limits and the
// global maxima are in bytes per second (the host's unit 4), defaults too.
namespace Limits {

constexpr qint32 NoLimit = -1;
constexpr qint32 UseDefault = -2;
constexpr qint32 Blocked = 0;

// Priority numbers of an entry; "highest" is a flag on top of priority 1.
constexpr qint32 PriorityHigh = 1;
constexpr qint32 PriorityNormal = 2;
constexpr qint32 PriorityLow = 3;

// A per-application limit: a rate, no limit, blocked, or the default.
inline bool isValidAppLimit(qint32 value)
{
    return value >= UseDefault;
}

// A default limit: a rate, no limit or blocked; "the default" makes no sense here.
inline bool isValidDefaultLimit(qint32 value)
{
    return value >= NoLimit;
}

// A global maximum: a positive rate or no limit. Zero would stall the machine.
inline bool isValidGlobalLimit(qint32 value)
{
    return value == NoLimit || value > 0;
}

inline bool isValidPriority(qint32 value)
{
    return value >= PriorityHigh && value <= PriorityLow;
}

inline bool isValidAppPriority(qint32 value)
{
    return value == UseDefault || isValidPriority(value);
}

} // namespace Limits
