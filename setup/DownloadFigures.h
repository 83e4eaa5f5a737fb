// The download page's speed figures.
#pragma once

#include <cstdint>

// The shown speed: sampled at most once a second (or while it is 0) from the
// bytes written so far. Bytes that fall (a retried range, an engine that
// reports 0 after a stop) count as no progress and start a new sample, so
// the shown figure never jumps to a wrapped-around rate.
class DownloadSpeedMeter {
public:
    // The speed to show, in bytes per second, at tick now.
    uint32_t Sample(uint64_t bytes, uint32_t now) {
        if (now - m_lastTick > 1000 || m_shown == 0) {
            const uint64_t gained = bytes >= m_lastBytes ? bytes - m_lastBytes : 0;
            const double seconds = (now - m_lastTick) / 1000.0;
            m_shown = seconds > 0 ? Saturate(gained / seconds) : 0;
            m_lastBytes = bytes;
            m_lastTick = now;
        }
        return m_shown;
    }

    // bytes / seconds since start, truncated; 0 when no time has passed.
    static uint32_t Average(uint64_t bytes, uint32_t start, uint32_t now) {
        const double seconds = (now - start) / 1000.0;
        return seconds > 0 ? Saturate(bytes / seconds) : 0;
    }

private:
    static uint32_t Saturate(double value) { return value >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }

    uint32_t m_shown = 0;
    uint64_t m_lastBytes = 0;
    uint32_t m_lastTick = 0;
};
