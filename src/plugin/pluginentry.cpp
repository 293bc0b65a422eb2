// The two functions a host resolves in the module file: the check that the
// file was built for this kind of host, and the one live module object.

#include "modapplications.h"

#include <QPointer>

namespace {

// Becomes null when the host deletes the module, so the next request makes a
// new one; the guard itself goes at process exit.
Q_GLOBAL_STATIC(QPointer<QObject>, instance)

} // namespace

extern "C" Q_DECL_EXPORT const char* qt_plugin_query_verification_data()
{
    static const char data[] = "pattern=QT_PLUGIN_VERIFICATION_DATA\n"
                               "version=4.6.3\n"
                               "debug=false\n"
                               "buildkey=Windows x64 msvc release full-config";
    return data;
}

extern "C" Q_DECL_EXPORT QObject* qt_plugin_instance()
{
    QPointer<QObject>& guard = *instance();
    if (guard.isNull())
        guard = new modApplications;
    return guard.data();
}
