#include "pluginloader.h"

#include "iplugin.h"

#include <QCoreApplication>

#include <cstring>

const char* PluginLoader::expectedVerificationData()
{
    return "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
           "version=4.6.3\n"
           "debug=false\n"
           "buildkey=Windows x64 msvc release full-config";
}

IPlugin* PluginLoader::load(const QString& strPath)
{
    m_library.setFileName(strPath);
    if (!m_library.load()) {
        m_error = m_library.errorString();
        return nullptr;
    }
    using QueryFunction = const char* (*)();
    using InstanceFunction = QObject* (*)();
    const auto query =
        reinterpret_cast<QueryFunction>(m_library.resolve("qt_plugin_query_verification_data"));
    const auto instance =
        reinterpret_cast<InstanceFunction>(m_library.resolve("qt_plugin_instance"));
    if (!query || !instance) {
        m_error = QCoreApplication::translate("PluginLoader",
                                              "%1 is not a plug-in module (entry points missing)")
                      .arg(strPath);
        return nullptr;
    }
    const char* data = query();
    if (!data || std::strcmp(data, expectedVerificationData()) != 0) {
        m_error = QCoreApplication::translate("PluginLoader", "%1 was built for another host: %2")
                      .arg(strPath, QString::fromLatin1(data ? data : "(no verification data)")
                                        .replace(QLatin1Char('\n'), QLatin1Char(' ')));
        return nullptr;
    }
    QObject* object = instance();
    IPlugin* plugin = qobject_cast<IPlugin*>(object);
    if (!plugin) {
        m_error = QCoreApplication::translate("PluginLoader", "%1 does not offer the interface %2")
                      .arg(strPath, QLatin1String(BWC_IPLUGIN_IID));
        return nullptr;
    }
    return plugin;
}
