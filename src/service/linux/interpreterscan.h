#pragma once

#include <QStringList>

// The interpreters installed where programs are looked for, so that the
// kernel can tell at exec that a process needs its script looked at.
class InterpreterScan
{
public:
    // Canonical paths of the interpreters in these directories (each once).
    static QStringList find(const QStringList& directories = defaultDirectories());
    static QStringList defaultDirectories();
};
