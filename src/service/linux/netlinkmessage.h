#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

struct nlmsghdr;

// One netlink request under construction: the message header, the family's
// fixed header and a sequence of attributes, nested ones included.
class NetlinkMessage
{
public:
    NetlinkMessage(std::uint16_t type, std::uint16_t flags);

    // The family header that follows the message header (ifinfomsg, tcmsg...).
    template <class Header> Header* appendHeader()
    {
        return static_cast<Header*>(reserve(sizeof(Header)));
    }
    void put(std::uint16_t type, const void* data, std::size_t length);
    void putU32(std::uint16_t type, std::uint32_t value) { put(type, &value, sizeof value); }
    void putString(std::uint16_t type, const char* text);
    // Opens a nested attribute; everything put until endNested(offset) goes inside.
    std::size_t beginNested(std::uint16_t type);
    void endNested(std::size_t offset);

    nlmsghdr* header();
    const char* data() const { return m_buffer.constData(); }
    std::size_t size() const { return std::size_t(m_buffer.size()); }

private:
    // Appends zeroed, aligned room and gives its address.
    void* reserve(std::size_t length);

    QByteArray m_buffer;
};
