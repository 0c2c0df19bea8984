#include "sim/frame_store.h"

#include <cstring>

namespace sim {

FrameStore::FrameStore(PixelOrder order) : order_(order) {
    for (auto& buffer : buffers_)
        buffer.assign(kAreaPixels, 0);
}

void FrameStore::publish(const std::uint32_t* area, std::size_t row_pixels) {
    std::uint32_t* to = buffers_[filling_].data();
    for (int y = 0; y < kAreaHeight; ++y, to += kAreaWidth) {
        const std::uint32_t* from = area + y * row_pixels;
        if (order_ == PixelOrder::Argb) {
            std::memcpy(to, from, kAreaWidth * sizeof *to);
            continue;
        }
        // Little-endian words 0xAABBGGRR, opaque: the red and blue bytes
        // trade places, and the framebuffer's unused top byte becomes 255.
        for (int x = 0; x < kAreaWidth; ++x) {
            const std::uint32_t pixel = from[x];
            to[x] =
                0xff000000u | ((pixel & 0xffu) << 16) | (pixel & 0xff00u) | ((pixel >> 16) & 0xffu);
        }
    }
    const std::uint32_t before = state_.exchange(
        static_cast<std::uint32_t>(filling_) | kFresh | kAny, std::memory_order_acq_rel);
    filling_ = static_cast<int>(before & kIndexMask);
}

const std::uint32_t* FrameStore::take(bool* fresh) {
    const std::uint32_t now = state_.load(std::memory_order_acquire);
    if (fresh)
        *fresh = (now & kFresh) != 0;
    if ((now & kAny) == 0)
        return nullptr;
    if (now & kFresh) {
        const std::uint32_t before =
            state_.exchange(static_cast<std::uint32_t>(showing_) | kAny, std::memory_order_acq_rel);
        showing_ = static_cast<int>(before & kIndexMask);
    }
    return buffers_[showing_].data();
}

}  // namespace sim
