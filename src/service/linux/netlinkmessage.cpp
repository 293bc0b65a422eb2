#include "netlinkmessage.h"

#include <linux/netlink.h>

#include <cstring>

NetlinkMessage::NetlinkMessage(std::uint16_t type, std::uint16_t flags)
{
    auto* h = static_cast<nlmsghdr*>(reserve(sizeof(nlmsghdr)));
    h->nlmsg_type = type;
    h->nlmsg_flags = flags;
}

void* NetlinkMessage::reserve(std::size_t length)
{
    const int offset = m_buffer.size();
    m_buffer.append(QByteArray(int(NLMSG_ALIGN(length)), '\0'));
    header()->nlmsg_len = quint32(m_buffer.size());
    return m_buffer.data() + offset;
}

void NetlinkMessage::put(std::uint16_t type, const void* data, std::size_t length)
{
    auto* attribute = static_cast<nlattr*>(reserve(NLA_HDRLEN + length));
    attribute->nla_type = type;
    attribute->nla_len = std::uint16_t(NLA_HDRLEN + length);
    if (length)
        std::memcpy(reinterpret_cast<char*>(attribute) + NLA_HDRLEN, data, length);
}

void NetlinkMessage::putString(std::uint16_t type, const char* text)
{
    put(type, text, std::strlen(text) + 1);
}

std::size_t NetlinkMessage::beginNested(std::uint16_t type)
{
    const std::size_t offset = size();
    auto* attribute = static_cast<nlattr*>(reserve(NLA_HDRLEN));
    attribute->nla_type = type | NLA_F_NESTED;
    return offset;
}

void NetlinkMessage::endNested(std::size_t offset)
{
    auto* attribute = reinterpret_cast<nlattr*>(m_buffer.data() + offset);
    attribute->nla_len = std::uint16_t(size() - offset);
}

nlmsghdr* NetlinkMessage::header()
{
    return reinterpret_cast<nlmsghdr*>(m_buffer.data());
}
