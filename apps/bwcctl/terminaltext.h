#pragma once

#include <QString>

// Text that users named (programs' names and paths) made safe to print to a
// terminal: control characters, C1 controls, format characters (such as
// reversals of the writing direction) and unpaired surrogates are written
// as \xHH or \uHHHH escapes, so nothing in it can move the cursor, recolour
// or retitle the terminal. Backslashes stay as they are: the simulated
// machine's paths are full of them.
class TerminalText
{
public:
    static QString escape(const QString& text);
};
