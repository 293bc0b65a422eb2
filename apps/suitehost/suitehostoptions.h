#pragma once

#include <QString>
#include <QStringList>

// suitehost's command line.
class SuiteHostOptions
{
public:
    QString pluginPath;     // empty: the module built beside the executable
    quint16 port = 0;       // 0: the service port of the environment
    QString screenshotPath; // non-empty: write the window there once it shows rows, then quit
    QString language;       // empty: the system's
    bool help = false;

    // Parses the whole argument list (program name first). On failure gives
    // false with a one-line reason in *error.
    bool parse(const QStringList& arguments, QString* error);
    // The module file: the option's path, else the one built with this host.
    QString resolvedPluginPath(const QString& strAppDir) const;

    static QString usage();
};
