#pragma once

#include <QList>
#include <QtGlobal>

// Every catalogue type number, ascending; for tools that list or look up commands.
QList<quint32> AllCommandTypes();
// The type number of a catalogue name ("BWCGetGlobals"), or 0 when there is none.
quint32 CommandTypeByName(const char* name);
