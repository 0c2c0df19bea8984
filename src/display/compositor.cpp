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
    for (int i = 0; i < kPageCount; ++i)
        pages_[i].list = &lists_[i];
}

void Compositor::compose(const Page& page, std::int64_t elapsed_ms) {
    PageMemory& memory = pages_[page.index];
    const bool whole = !memory.known || elapsed_ms - memory.whole_ms >= kWholeEveryMs ||
                       elapsed_ms < memory.whole_ms;
    damage_.clear();
    if (whole) {
        damage_.add(kArea);
        memory.whole_ms = elapsed_ms;
    } else {
        find_damage(*memory.list, *next_, damage_);
    }
    for (int i = 0; i < damage_.count(); ++i)
        compose_rect(*next_, damage_[i], page.canvas, buffer_, memo_);
    report_ = ComposeReport{whole, damage_.count(), damage_.area()};
    if (next_->left_out() > 0)
        ++overflowed_frames_;

    // The list just composed is now the page's; its old one is free for
    // the next frame.
    std::swap(memory.list, next_);
    next_->clear();
    memory.known = true;
}

void Compositor::forget_pages() {
    for (PageMemory& memory : pages_)
        memory.known = false;
}

const DisplayList* Compositor::composed_from(int page_index) const {
    if (page_index < 0 || page_index >= kPageCount || !pages_[page_index].known)
        return nullptr;
    return pages_[page_index].list;
}

void Compositor::changed_since(int from_index, int to_index, Damage& changed) const {
    changed.clear();
    const DisplayList* now = composed_from(to_index);
    const DisplayList* before = composed_from(from_index);
    if (now == nullptr || before == nullptr) {
        changed.add(kArea);
    } else if (from_index == to_index) {
        // The one-page fallback: the page was drawn over itself, and what
        // the compositor wrote is all that changed.
        for (int i = 0; i < damage_.count(); ++i)
            changed.add(damage_[i]);
    } else {
        find_damage(*before, *now, changed);
    }
}
