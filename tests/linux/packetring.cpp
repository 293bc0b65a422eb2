#include "packetring.h"

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>

namespace {

constexpr unsigned BlockSize = 1u << 16;
constexpr unsigned Blocks = 64;
constexpr unsigned FrameSize = 1u << 11;

} // namespace

bool PacketRing::map(int fd, Version version)
{
    m_fd = fd;
    m_version = version;
    int value = version == V3 ? TPACKET_V3 : TPACKET_V2;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &value, sizeof(value)) != 0)
        return false;
    tpacket_req3 request{};
    request.tp_block_size = BlockSize;
    request.tp_block_nr = Blocks;
    request.tp_frame_size = FrameSize;
    request.tp_frame_nr = BlockSize / FrameSize * Blocks;
    // A block is handed over when full or after this many milliseconds.
    request.tp_retire_blk_tov = 1;
    const socklen_t length = version == V3 ? sizeof(tpacket_req3) : sizeof(tpacket_req);
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, length) != 0)
        return false;
    m_size = size_t(BlockSize) * Blocks;
    void* area = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (area == MAP_FAILED)
        return false;
    m_area = static_cast<uint8_t*>(area);
    m_slotSize = version == V3 ? BlockSize : FrameSize;
    m_slots = version == V3 ? Blocks : request.tp_frame_nr;
    return true;
}

PacketRing::~PacketRing()
{
    if (m_area)
        munmap(m_area, m_size);
}

bool PacketRing::wait(int timeoutMs) const
{
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

bool PacketRing::next(int timeoutMs, const Take& take)
{
    for (;;) {
        uint8_t* slot = m_area + size_t(m_at) * m_slotSize;
        const uint32_t* status =
            m_version == V3 ? &reinterpret_cast<tpacket_block_desc*>(slot)->hdr.bh1.block_status
                            : &reinterpret_cast<tpacket2_hdr*>(slot)->tp_status;
        if (!(__atomic_load_n(status, __ATOMIC_ACQUIRE) & TP_STATUS_USER)) {
            if (!wait(timeoutMs))
                return false;
            continue;
        }
        if (m_version == V3 ? nextBlock(take) : nextFrame(take))
            return true;
    }
}

bool PacketRing::nextFrame(const Take& take)
{
    auto* header = reinterpret_cast<tpacket2_hdr*>(m_area + size_t(m_at) * m_slotSize);
    const bool taken =
        take(reinterpret_cast<const uint8_t*>(header) + header->tp_mac, header->tp_snaplen);
    __atomic_store_n(&header->tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    m_at = (m_at + 1) % m_slots;
    return taken;
}

// A block is handed back whole: every frame in it is offered, and whether
// any was taken is told.
bool PacketRing::nextBlock(const Take& take)
{
    auto* block = reinterpret_cast<tpacket_block_desc*>(m_area + size_t(m_at) * m_slotSize);
    const uint8_t* at =
        reinterpret_cast<const uint8_t*>(block) + block->hdr.bh1.offset_to_first_pkt;
    bool taken = false;
    for (uint32_t i = 0; i < block->hdr.bh1.num_pkts; ++i) {
        const auto* frame = reinterpret_cast<const tpacket3_hdr*>(at);
        taken = take(at + frame->tp_mac, frame->tp_snaplen) || taken;
        at += frame->tp_next_offset;
    }
    __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    m_at = (m_at + 1) % m_slots;
    return taken;
}
