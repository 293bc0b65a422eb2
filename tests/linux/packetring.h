#pragma once

// A packet socket's receive ring (PACKET_RX_RING), read as capture libraries
// read it: TPACKET_V3 blocks by default, or TPACKET_V2 frames.

#include <cstddef>
#include <cstdint>
#include <functional>

class PacketRing
{
public:
    enum Version
    {
        V2,
        V3
    };
    // Maps a ring onto the bound packet socket fd; false (errno set) if it cannot.
    bool map(int fd, Version version);
    ~PacketRing();

    // Hands each frame that came to take() until it returns true or no frame
    // comes within timeoutMs; gives whether take() accepted one.
    using Take = std::function<bool(const uint8_t* frame, size_t length)>;
    bool next(int timeoutMs, const Take& take);

private:
    bool wait(int timeoutMs) const;
    bool nextFrame(const Take& take);
    bool nextBlock(const Take& take);

    int m_fd = -1;
    Version m_version = V3;
    uint8_t* m_area = nullptr;
    size_t m_size = 0;
    unsigned m_slotSize = 0; // a V2 frame or a V3 block
    unsigned m_slots = 0;
    unsigned m_at = 0;
};
