#pragma once

#include <QLibrary>
#include <QString>

class IPlugin;

// Loads a module file by path the way the suite does: the verification text
// must name the plug-in interface's build key, then the instance entry point
// hands out the module object, which must answer for the plug-in interface.
class PluginLoader
{
public:
    // What a module's verification text must read.
    static const char* expectedVerificationData();

    // The module object, or null with the reason in errorString().
    IPlugin* load(const QString& strPath);
    QString errorString() const { return m_error; }

private:
    // Stays loaded for the rest of the process: the module's objects and
    // static data must outlive every use of them.
    QLibrary m_library;
    QString m_error;
};
