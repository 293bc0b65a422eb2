#include "enforcementprograms.h"

#include "enforcement.skel.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// tc attachment through a BPF link (kernel 6.6): the uapi headers of older
// distributions do not name it yet.
constexpr unsigned AttachTcxIngress = 46;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error < 0 ? -error : error));
}

int createTcxLink(int progFd, int ifindex)
{
    union bpf_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.link_create.prog_fd = std::uint32_t(progFd);
    attr.link_create.target_ifindex = std::uint32_t(ifindex);
    attr.link_create.attach_type = AttachTcxIngress;
    const long fd = ::syscall(__NR_bpf, BPF_LINK_CREATE, &attr, sizeof attr);
    return fd < 0 ? -errno : int(fd);
}

} // namespace

EnforcementPrograms::EnforcementPrograms() = default;

EnforcementPrograms::~EnforcementPrograms()
{
    detachAll();
    if (m_skeleton)
        enforcement_bpf__destroy(m_skeleton);
}

bool EnforcementPrograms::load(int tagMapFd, int processMapFd, QString* error)
{
    m_skeleton = enforcement_bpf__open();
    if (!m_skeleton) {
        *error = QStringLiteral("cannot open the enforcement programs: %1").arg(errnoText(errno));
        return false;
    }
    if (tagMapFd >= 0) {
        if (const int e = bpf_map__reuse_fd(m_skeleton->maps.sock_tags, tagMapFd)) {
            *error = QStringLiteral("cannot share the socket-tag map: %1").arg(errnoText(e));
            return false;
        }
    }
    if (processMapFd >= 0) {
        if (const int e = bpf_map__reuse_fd(m_skeleton->maps.tgid_apps, processMapFd)) {
            *error = QStringLiteral("cannot share the process map: %1").arg(errnoText(e));
            return false;
        }
    }
    if (const int e = enforcement_bpf__load(m_skeleton)) {
        *error =
            QStringLiteral("the kernel refused the enforcement programs: %1").arg(errnoText(e));
        enforcement_bpf__destroy(m_skeleton);
        m_skeleton = nullptr;
        return false;
    }
    return true;
}

int EnforcementPrograms::tagMapFd() const
{
    return m_skeleton ? bpf_map__fd(m_skeleton->maps.sock_tags) : -1;
}

bool EnforcementPrograms::attachCgroup(const QString& cgroupPath, QString* error)
{
    if (!m_skeleton) {
        *error = QStringLiteral("the enforcement programs are not loaded");
        return false;
    }
    const int cgroup =
        ::open(QFile::encodeName(cgroupPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cgroup < 0) {
        *error = QStringLiteral("cannot open the cgroup %1: %2").arg(cgroupPath, errnoText(errno));
        return false;
    }
    bpf_program* programs[] = {
        m_skeleton->progs.enforce_egress,   m_skeleton->progs.enforce_ingress,
        m_skeleton->progs.enforce_connect4, m_skeleton->progs.enforce_connect6,
        m_skeleton->progs.enforce_sendmsg4, m_skeleton->progs.enforce_sendmsg6,
        m_skeleton->progs.enforce_pacing};
    bool ok = true;
    for (bpf_program* program : programs) {
        const int link = bpf_link_create(bpf_program__fd(program), cgroup,
                                         bpf_program__expected_attach_type(program), nullptr);
        if (link < 0) {
            *error =
                QStringLiteral("cannot attach %1 to %2: %3")
                    .arg(QLatin1String(bpf_program__name(program)), cgroupPath, errnoText(link));
            ok = false;
            break;
        }
        m_cgroupLinks.append(link);
    }
    ::close(cgroup);
    return ok;
}

bool EnforcementPrograms::attachDownload(quint64 netns, int ifindex, int ifbIndex, int linkHeader,
                                         QString* error)
{
    if (!m_skeleton) {
        *error = QStringLiteral("the enforcement programs are not loaded");
        return false;
    }
    bwc_device_key device{};
    device.netns = netns;
    device.ifindex = __u32(ifindex);
    bwc_download_device value{};
    value.ifb = __u32(ifbIndex);
    value.link_header = __u32(linkHeader);
    if (bpf_map_update_elem(bpf_map__fd(m_skeleton->maps.ifb_of), &device, &value, BPF_ANY)) {
        *error = QStringLiteral("cannot record the IFB device: %1").arg(errnoText(errno));
        return false;
    }
    if (m_downloadLinks.contains({netns, ifindex}))
        return true;
    const int link = createTcxLink(bpf_program__fd(m_skeleton->progs.enforce_download), ifindex);
    if (link < 0) {
        *error = QStringLiteral("cannot attach the download classifier to device %1: %2")
                     .arg(ifindex)
                     .arg(errnoText(link));
        return false;
    }
    m_downloadLinks.insert({netns, ifindex}, link);
    return true;
}

bool EnforcementPrograms::canAttachDownload(QString* error)
{
    if (!m_skeleton) {
        *error = QStringLiteral("the enforcement programs are not loaded");
        return false;
    }
    const int loopback = int(if_nametoindex("lo"));
    const int link = createTcxLink(bpf_program__fd(m_skeleton->progs.enforce_download),
                                   loopback > 0 ? loopback : 1);
    if (link < 0) {
        *error = errnoText(link);
        return false;
    }
    ::close(link);
    return true;
}

void EnforcementPrograms::detachDownload(quint64 netns, int ifindex)
{
    if (const int link = m_downloadLinks.take({netns, ifindex}))
        ::close(link);
    if (m_skeleton) {
        bwc_device_key device{};
        device.netns = netns;
        device.ifindex = __u32(ifindex);
        bpf_map_delete_elem(bpf_map__fd(m_skeleton->maps.ifb_of), &device);
    }
}

bool EnforcementPrograms::setConfig(const bwc_enforce_config& config)
{
    const __u32 zero = 0;
    return m_skeleton && bpf_map_update_elem(bpf_map__fd(m_skeleton->maps.enforce_config), &zero,
                                             &config, BPF_ANY) == 0;
}

bool EnforcementPrograms::setRule(quint32 app, const bwc_app_rule& rule)
{
    const bwc_app_key key = app;
    return m_skeleton &&
           bpf_map_update_elem(bpf_map__fd(m_skeleton->maps.app_rules), &key, &rule, BPF_ANY) == 0;
}

bool EnforcementPrograms::removeRule(quint32 app)
{
    const bwc_app_key key = app;
    return m_skeleton && bpf_map_delete_elem(bpf_map__fd(m_skeleton->maps.app_rules), &key) == 0;
}

void EnforcementPrograms::setLanPrefixes(const QList<bwc_lan_key>& prefixes)
{
    if (!m_skeleton)
        return;
    const int map = bpf_map__fd(m_skeleton->maps.lan_prefixes);
    const auto contains = [](const QList<bwc_lan_key>& list, const bwc_lan_key& key) {
        return std::any_of(list.begin(), list.end(), [&key](const bwc_lan_key& k) {
            return std::memcmp(&k, &key, sizeof key) == 0;
        });
    };
    const __u8 one = 1;
    for (const bwc_lan_key& key : prefixes)
        bpf_map_update_elem(map, &key, &one, BPF_ANY);
    for (const bwc_lan_key& key : std::as_const(m_lanPrefixes)) {
        if (!contains(prefixes, key))
            bpf_map_delete_elem(map, &key);
    }
    m_lanPrefixes = prefixes;
}

void EnforcementPrograms::detachAll()
{
    for (int link : std::as_const(m_cgroupLinks))
        ::close(link);
    m_cgroupLinks.clear();
    for (int link : std::as_const(m_downloadLinks))
        ::close(link);
    m_downloadLinks.clear();
}
