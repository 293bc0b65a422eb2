#include "serviceport.h"

#include <QtDebug>

namespace ServicePort {

quint16 fromEnvironment()
{
    if (!qEnvironmentVariableIsSet(EnvironmentVariable))
        return Default;
    const QByteArray text = qgetenv(EnvironmentVariable).trimmed();
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        qWarning("ServicePort: ignoring %s=\"%s\", not a port number; using %u",
                 EnvironmentVariable, text.constData(), uint(Default));
        return Default;
    }
    return quint16(port);
}

} // namespace ServicePort
