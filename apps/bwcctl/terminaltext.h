#pragma once

#include <QString>

// Text that users named (programs' names and paths) made safe to print to a
// terminal: control characters, C1 controls, format characters (such as
// reversals of the writing direction) and unpaired surrogates are written
// as \xHH or \uHHHH escapes, and a backslash as two, so nothing in it can
// move the cursor, recolour or retitle the terminal, and the escapes read
// back unambiguously.
class TerminalText
{
public:
    static QString escape(const QString& text);
};
