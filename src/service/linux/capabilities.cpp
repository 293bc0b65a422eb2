#include "capabilities.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Needed
{
    int number;
    const char* name;
};

// CAP_BPF and CAP_PERFMON are 39 and 38; older headers may lack the names.
constexpr Needed needed[] = {
    {39, "CAP_BPF"},
    {38, "CAP_PERFMON"},
    {CAP_NET_ADMIN, "CAP_NET_ADMIN"},
    {CAP_SYS_ADMIN, "CAP_SYS_ADMIN"},
    {CAP_SYS_PTRACE, "CAP_SYS_PTRACE"},
};

} // namespace

QStringList Capabilities::missing()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    QStringList names;
    const bool known = syscall(SYS_capget, &header, data) == 0;
    for (const Needed& cap : needed) {
        const bool has =
            known && (data[cap.number / 32].effective & (1u << (cap.number % 32))) != 0;
        if (!has)
            names.append(QLatin1String(cap.name));
    }
    return names;
}
