#include "sim/frame_store.h"

#include <cstring>

namespace sim {
namespace {

void add_all(Damage& to, const Damage* changed) {
    if (changed == nullptr) {
        to.add(kArea);
        return;
    }
    for (int i = 0; i < changed->count(); ++i)
        to.add(intersect((*changed)[i], kArea));
}

}  // namespace

FrameStore::FrameStore(PixelOrder order) : order_(order) {
    for (auto& buffer : buffers_)
        buffer.assign(kAreaPixels, 0);
    // Nothing is known of any picture yet: the first one is copied whole.
    for (Damage& behind : behind_)
        behind.add(kArea);
    unseen_.add(kArea);
}

void FrameStore::publish(const std::uint32_t* area, std::size_t row_pixels, const Damage* changed) {
    for (Damage& behind : behind_)
        add_all(behind, changed);
    Damage& behind = behind_[filling_];
    std::uint32_t* const buffer = buffers_[filling_].data();
    for (int r = 0; r < behind.count(); ++r) {
        const Rect& rect = behind[r];
        const int width = rect.right - rect.left;
        for (int y = rect.top; y < rect.bottom; ++y) {
            const std::uint32_t* from = area + y * row_pixels + rect.left;
            std::uint32_t* to = buffer + y * kAreaWidth + rect.left;
            if (order_ == PixelOrder::Argb) {
                std::memcpy(to, from, width * sizeof *to);
                continue;
            }
            // Little-endian words 0xAABBGGRR, opaque: the red and blue bytes
            // trade places, and the framebuffer's unused top byte becomes 255.
            for (int x = 0; x < width; ++x) {
                const std::uint32_t pixel = from[x];
                to[x] = 0xff000000u | ((pixel & 0xffu) << 16) | (pixel & 0xff00u) |
                        ((pixel >> 16) & 0xffu);
            }
        }
    }
    behind.clear();

    // The viewer has taken the picture published last, unless it is still
    // fresh; should the viewer take it between this look and the handover,
    // the changes only cover more than they need to.
    const std::uint32_t now = state_.load(std::memory_order_acquire);
    if ((now & kAny) != 0 && (now & kFresh) == 0)
        unseen_.clear();
    add_all(unseen_, changed);
    FrameChanges& changes = changes_[filling_];
    changes.count = unseen_.count();
    for (int i = 0; i < unseen_.count(); ++i) {
        const Rect& rect = unseen_[i];
        changes.rects[i][0] = rect.left;
        changes.rects[i][1] = rect.top;
        changes.rects[i][2] = rect.right;
        changes.rects[i][3] = rect.bottom;
    }

    const std::uint32_t before = state_.exchange(
        static_cast<std::uint32_t>(filling_) | kFresh | kAny, std::memory_order_acq_rel);
    filling_ = static_cast<int>(before & kIndexMask);
    if (wake_ != nullptr)
        wake_(&state_);
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
