#pragma once
// Frames composed into a page only where the page differs from them.
//
// The compositor remembers, for each page, the display list that page was
// last composed from. The items of the new list that have no equal in the
// old one, in the same order, and the old items left without a partner,
// mark the damage (list_diff.h): everywhere else the page already shows
// exactly what the new list would draw. Only the damage is composed, in a
// small buffer in ordinary memory where blends read what was drawn before
// them, and copied into the page with wide stores; the page itself is never
// read.
//
// The compositor owns the lists: three of them, one remembered for each
// page and the one the next frame is described in, which it hands out by
// reference. One belongs to the display; the main thread alone uses it.
#include <cstdint>

#include "display/damage.h"
#include "display/display_list.h"
#include "display/draw.h"
#include "display/text.h"

// Draws the list into the page inside the rectangle (clipped to the page's
// window), through buffer (kComposeBufferPixels of them).
constexpr int kComposeBufferPixels = 16384;
void compose_rect(const DisplayList& list, const Rect& rect, const Canvas& page,
                  std::uint32_t* buffer, BlendMemo& memo);

// What one compose did: composed whole or not, the rectangles composed and
// their pixels.
struct ComposeReport {
    bool whole = false;
    int rects = 0;
    long long pixels = 0;
};

class Compositor {
  public:
    Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // The list to describe the next frame in: empty at the start and after
    // every compose, and the compositor's own.
    DisplayList& next_list() { return *next_; }

    // Composes next_list() into page (a framebuffer page's drawing area and
    // its index) at elapsed_ms, the main loop's time. A page not seen
    // before, forgotten, or last composed whole 10 s or more ago is composed
    // whole; otherwise only the damage since that page's last frame is.
    // Reads next_list() and the list the page was last composed from;
    // writes the page's damage and this compositor's memory: the page keeps
    // the list just composed, and next_list() is then the page's old one,
    // emptied. A list that left items out counts as an overflowed frame.
    void compose(const Page& page, std::int64_t elapsed_ms);

    // What the last compose did, for the benchmarks.
    const ComposeReport& last_report() const { return report_; }

    // The rectangles the last compose wrote into its page: all the page's
    // pixels that differ from what the page held before.
    const Damage& last_damage() const { return damage_; }

    // Every page's content is unknown from now on: the framebuffer was
    // opened again, or a pan was refused.
    void forget_pages();

    // The list the page with this index was last composed from, or nullptr
    // if it is forgotten.
    const DisplayList* composed_from(int page_index) const;

    // Where page to_index, as last composed, differs from page from_index
    // as that was last composed, into changed: the whole area when either
    // is forgotten; when both are the same page (the one-page fallback),
    // what the last compose wrote. A front end that showed the one and now
    // shows the other, just composed, redraws only this. Not on the game's
    // own path.
    void changed_since(int from_index, int to_index, Damage& changed) const;

    // The frames composed from a list that had left items out.
    long long overflowed_frames() const { return overflowed_frames_; }

  private:
    // What a page was last composed from, by the page's index. Two pages
    // take turns (one in the one-page fallback); a page the compositor does
    // not know is composed whole.
    struct PageMemory {
        bool known = false;
        DisplayList* list = nullptr;
        std::int64_t whole_ms = 0;  // when it was last composed whole
    };

    DisplayList lists_[kPageCount + 1];
    PageMemory pages_[kPageCount];
    DisplayList* next_ = &lists_[kPageCount];
    long long overflowed_frames_ = 0;
    ComposeReport report_;
    Damage damage_;
    BlendMemo memo_;
    std::uint32_t buffer_[kComposeBufferPixels] = {};
};
