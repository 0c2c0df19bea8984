#include "display/compositor.h"

#include <algorithm>

#include "display/list_diff.h"
#include "display/pixel_runs.h"

namespace {

// Every page is composed whole at least this often, so that anything else
// that wrote into framebuffer memory does not stay on screen.
constexpr std::int64_t kWholeEveryMs = 10000;

}  // namespace

void compose_rect(const DisplayList& list, const Rect& rect, const Canvas& page,
                  std::uint32_t* buffer, BlendMemo& memo) {
    const Rect clipped = intersect(rect, page.window);
    if (clipped.empty())
        return;
    const int width = clipped.right - clipped.left;
    const int rows = kComposeBufferPixels / width;
    // Kept in registers across the calls below, which could otherwise
    // change them for all the compiler knows.
    const int pitch = page.stride;
    std::uint32_t* to = page.at(clipped.left, clipped.top);
    for (int top = clipped.top; top < clipped.bottom; top += rows) {
        const int bottom = std::min(clipped.bottom, top + rows);
        list.draw(Canvas{buffer, width, Rect{clipped.left, top, clipped.right, bottom}}, memo);
        const std::uint32_t* from = buffer;
        for (int y = top; y < bottom; ++y, to += pitch, from += width)
            copy_pixels(to, from, width);
    }
}

Compositor::Compositor() {
    pages_[0].list = &lists_[0];
    pages_[1].list = &lists_[1];
}

Compositor::PageMemory& Compositor::memory_of(const std::uint32_t* pixels) {
    for (PageMemory& memory : pages_) {
        if (memory.pixels == pixels)
            return memory;
    }
    // The page least recently composed makes room.
    PageMemory& oldest = pages_[0].last_use <= pages_[1].last_use ? pages_[0] : pages_[1];
    oldest.pixels = nullptr;
    return oldest;
}

void Compositor::compose(const Canvas& page, std::int64_t elapsed_ms) {
    PageMemory& memory = memory_of(page.pixels);
    const bool whole = memory.pixels != page.pixels ||
                       elapsed_ms - memory.whole_ms >= kWholeEveryMs ||
                       elapsed_ms < memory.whole_ms;
    damage_.clear();
    if (whole) {
        damage_.add(kArea);
        memory.whole_ms = elapsed_ms;
    } else {
        find_damage(*memory.list, *next_, damage_);
    }
    for (int i = 0; i < damage_.count(); ++i)
        compose_rect(*next_, damage_[i], page, buffer_, memo_);
    report_ = ComposeReport{whole, damage_.count(), damage_.area()};
    if (next_->left_out() > 0)
        ++overflowed_frames_;

    // The list just composed is now the page's; its old one is free for
    // the next frame.
    std::swap(memory.list, next_);
    next_->clear();
    memory.pixels = page.pixels;
    memory.last_use = ++frames_composed_;
}

void Compositor::forget_pages() {
    for (PageMemory& memory : pages_)
        memory.pixels = nullptr;
}

const DisplayList* Compositor::composed_from(const std::uint32_t* pixels) const {
    for (const PageMemory& memory : pages_) {
        if (memory.pixels == pixels && pixels != nullptr)
            return memory.list;
    }
    return nullptr;
}
