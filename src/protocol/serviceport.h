#pragma once

#include <QtGlobal>

// The service's TCP port on the loopback address: 7789, or the value of the
// environment variable BWC_PORT when it names a valid port.
namespace ServicePort {

constexpr quint16 Default = 7789;
constexpr const char* EnvironmentVariable = "BWC_PORT";

quint16 fromEnvironment();

} // namespace ServicePort
