#include "devicemonitor.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString reason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int netlinkSocket(unsigned groups)
{
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = groups;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

QString describe(const QString& name, const QString& kind, unsigned type, bool wireless)
{
    if (wireless)
        return QStringLiteral("Wireless network device");
    if (!kind.isEmpty())
        return QStringLiteral("Virtual network device (%1)").arg(kind);
    const QString driver =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/sys/class/net/%1/device/driver").arg(name)))
            .fileName();
    const QString what = type == ARPHRD_ETHER ? QStringLiteral("Ethernet device")
                         : type == ARPHRD_NONE || type == ARPHRD_PPP
                             ? QStringLiteral("Point-to-point network device")
                             : QStringLiteral("Network device");
    return driver.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, driver);
}

} // namespace

DeviceMonitor::DeviceMonitor(const QString& netnsPath, QObject* parent)
    : QObject(parent), m_netns(netnsPath)
{}

DeviceMonitor::~DeviceMonitor()
{
    delete m_notifier;
    if (m_events >= 0)
        close(m_events);
    if (m_query >= 0)
        close(m_query);
}

bool DeviceMonitor::start(QString* error)
{
    // Netlink sockets belong to the namespace they are made in; make them
    // there and come back.
    int home = -1;
    if (!m_netns.isEmpty()) {
        home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = open(m_netns.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0)
            close(target);
        if (!entered) {
            *error =
                QStringLiteral("cannot enter the network namespace %1: %2").arg(m_netns, reason());
            if (home >= 0)
                close(home);
            return false;
        }
    }
    m_events = netlinkSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR);
    m_query = netlinkSocket(0);
    const QString failure = reason();
    if (home >= 0) {
        setns(home, CLONE_NEWNET);
        close(home);
    }
    if (m_events < 0 || m_query < 0) {
        *error = QStringLiteral("cannot watch the network devices (rtnetlink): %1").arg(failure);
        return false;
    }
    m_notifier = new QSocketNotifier(m_events, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceMonitor::onEvents);
    m_devices = dump();
    return true;
}

void DeviceMonitor::onEvents()
{
    alignas(nlmsghdr) char buffer[16384];
    bool addresses = false;
    ssize_t length;
    while ((length = recv(m_events, buffer, sizeof(buffer), 0)) > 0) {
        int left = int(length);
        for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left))
            addresses |= h->nlmsg_type == RTM_NEWADDR || h->nlmsg_type == RTM_DELADDR;
    }
    if (addresses)
        emit addressesChanged();
    const QList<DeviceInfoPtr> now = dump();
    const auto same = [](const DeviceInfoPtr& a, const DeviceInfoPtr& b) {
        return a->number == b->number && a->deviceId == b->deviceId && a->textA == b->textA &&
               a->textB == b->textB && a->flags == b->flags;
    };
    bool equal = now.size() == m_devices.size();
    for (int i = 0; equal && i < now.size(); ++i)
        equal = same(now[i], m_devices[i]);
    m_devices = now;
    if (!equal)
        emit changed();
}

QList<DeviceInfoPtr> DeviceMonitor::dump() const
{
    struct
    {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    QList<DeviceInfoPtr> list;
    if (send(m_query, &request, sizeof(request), 0) < 0)
        return m_devices;
    // The dump arrives in several datagrams; wait for each (the socket does not block).
    alignas(nlmsghdr) char buffer[32768];
    for (int idle = 0; idle < 200;) {
        const ssize_t length = recv(m_query, buffer, sizeof(buffer), 0);
        if (length < 0) {
            if (errno != EAGAIN && errno != EINTR)
                break;
            ++idle;
            usleep(1000);
            continue;
        }
        idle = 0;
        int remaining = int(length);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR)
                return list;
            if (message->nlmsg_type != RTM_NEWLINK)
                continue;
            const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
            if (info->ifi_flags & IFF_LOOPBACK)
                continue;
            QString name, kind;
            int attributesLength = int(IFLA_PAYLOAD(message));
            for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                if (attribute->rta_type == IFLA_IFNAME) {
                    name = QString::fromLocal8Bit(static_cast<const char*>(RTA_DATA(attribute)));
                } else if (attribute->rta_type == IFLA_LINKINFO) {
                    int nestedLength = int(RTA_PAYLOAD(attribute));
                    for (auto* nested = static_cast<rtattr*>(RTA_DATA(attribute));
                         RTA_OK(nested, nestedLength); nested = RTA_NEXT(nested, nestedLength)) {
                        if (nested->rta_type == IFLA_INFO_KIND)
                            kind =
                                QString::fromLocal8Bit(static_cast<const char*>(RTA_DATA(nested)));
                    }
                }
            }
            // Only the namespace bwcd runs in has its devices in /sys.
            const QString sys = QStringLiteral("/sys/class/net/%1/").arg(name);
            const bool wireless =
                m_netns.isEmpty() && (QFileInfo::exists(sys + QLatin1String("wireless")) ||
                                      QFileInfo::exists(sys + QLatin1String("phy80211")));
            DeviceInfoPtr device(new DeviceInfo);
            device->number = quint32(info->ifi_index);
            device->deviceId = quint32(wireless ? WirelessCode : WiredCode);
            device->textA = describe(name, kind, info->ifi_type, wireless);
            device->textB = name;
            device->flags = {(info->ifi_flags & IFF_UP) != 0};
            list.append(device);
        }
    }
    return list;
}
