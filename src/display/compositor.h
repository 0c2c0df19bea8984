#pragma once
// Frames as lists of what they draw, composed into a page only where the
// page differs from them.
//
// A frame is described as an ordered list of items (a fill, a pixel, a
// block, a brick, a line of text, the logo), each with the box of the pixels
// it can touch. The compositor remembers, for each page, the list that page
// was last composed from. The items of the new list that have no equal in
// the old one, in the same order, and the old items left without a partner,
// mark the damage: everywhere else the page already shows exactly what the
// new list would draw. Between two pairs of equal items, a block or fill
// moved along a row or a column, or a text with other characters at the
// same place, is paired with its old self and damages only where the two
// differ. Only the damage is composed, in a small buffer in
// ordinary memory where blends read what was drawn before them, and copied
// into the page with wide stores; the page itself is never read.
//
// Everything this keeps lives in a Compositor, which its owner (the
// display) passes to every call that uses it.
#include <cstdint>

#include "display/brick.h"
#include "display/draw.h"

enum class ItemKind : std::uint8_t { Fill, Pixel, Block, Brick, Text, Logo };

// The area's rows in bands: the display list and the damage each know, per
// band, which of their items or rectangles reach into it, so that a small
// rectangle is held against the few it may meet.
constexpr int kBandRows = 16;
constexpr int kBands = (kAreaHeight + kBandRows - 1) / kBandRows;

constexpr int kItemTextBytes = 52;  // a longer text is kept as several items

struct Item {
    ItemKind kind = ItemKind::Fill;
    // Each kind's own detail; zero in every other kind.
    std::uint8_t text_size = 0;  // a text's size, 1 to 4
    std::uint8_t logo_step = 0;  // the logo's step: 1 full size, 2 half
    BrickMarks marks = kBrickPlain;
    int x = 0, y = 0, w = 0, h = 0;
    std::uint32_t colour = 0;
    std::uint32_t hash = 0;  // of everything above and the text
    Rect box;                // the pixels it may touch, inside the area
    char text[kItemTextBytes] = {};

    bool same_as(const Item& other) const;
};

class DisplayList {
  public:
    // More than a frame of the game ever holds (a full brick wall with every
    // moving part, overlay and text); items beyond it are left out, and
    // counted.
    static constexpr int kCapacity = 384;

    void clear();
    int count() const { return count_; }
    // The items left out since the last clear, for want of room.
    int left_out() const { return left_out_; }
    const Item& operator[](int index) const { return items_[index]; }

    // The first item from index from on that is the same as item; -1 if none.
    int find(const Item& item, int from) const;

    // The same as the drawing primitives of the same names; nothing is kept
    // for an item that draws nothing inside the area.
    void fill(int x, int y, int w, int h, std::uint32_t colour);
    void pixel(int x, int y, std::uint32_t colour);
    void block(int x, int y, int w, int h, std::uint32_t colour);
    // A brick's block with its marks: rivets in the corners, or a stripe down
    // its middle.
    void brick(int x, int y, int w, int h, std::uint32_t colour, BrickMarks marks);
    void text(const char* text, int x, int y, int size, std::uint32_t colour);
    void logo(int x, int y, int step);

    // Draws every item that touches the canvas, in order; texts and the
    // logo remember their blends in memo.
    void draw(const Canvas& canvas, BlendMemo& memo) const;

  private:
    // The next item, its kind, place and box set and everything else empty,
    // or nullptr when the box is empty or the list full; then finish_item
    // keeps it.
    Item* start_item(ItemKind kind, long long x, int y, const Rect& box);
    void finish_item();
    // An item drawn inside x, y, w, h.
    Item* add_box(ItemKind kind, int x, int y, int w, int h, std::uint32_t colour);

    // Items by hash: bucket_ holds the latest index + 1 of its hashes (0:
    // none), chain_ each item's predecessor in its bucket, the same way.
    static constexpr int kBuckets = 512;

    static constexpr int kWords = (kCapacity + 31) / 32;

    Item items_[kCapacity];
    int count_ = 0;
    int left_out_ = 0;
    std::uint16_t bucket_[kBuckets] = {};
    std::uint16_t chain_[kCapacity] = {};
    // One bit per item, in list order, for each band it reaches into.
    std::uint32_t bands_[kBands][kWords] = {};
};

// The rectangles to compose: at most kCapacity of them. A rectangle that
// overlaps or touches one already held is merged with it when their union
// is not much larger than the two (two thin walls meeting at a corner stay
// two); when all places are taken, the new one joins the one whose box
// grows least.
class Damage {
  public:
    static constexpr int kCapacity = 64;  // one bit each in a band's word

    void clear();
    void add(Rect rect);
    int count() const { return count_; }
    const Rect& operator[](int index) const { return rects_[index]; }
    long long area() const;

  private:
    void hold(int index, const Rect& rect);
    void drop(int index);  // the last rectangle takes its place
    void mark(const Rect& rect, int index, bool on);
    std::uint64_t near(const Rect& rect) const;

    Rect rects_[kCapacity];
    int count_ = 0;
    std::uint64_t bands_[kBands] = {};
};

// The damage between the list a page was composed from and the next one.
void find_damage(const DisplayList& before, const DisplayList& after, Damage& damage);

// Draws the list into the page (rows kPagePixelsPerRow apart) inside the
// rectangle, through buffer (kComposeBufferPixels of them).
constexpr int kComposeBufferPixels = 16384;
void compose_rect(const DisplayList& list, const Rect& rect, std::uint32_t* page,
                  std::uint32_t* buffer, BlendMemo& memo);

// What one compose did: composed whole or not, the rectangles composed and
// their pixels.
struct ComposeReport {
    bool whole = false;
    int rects = 0;
    long long pixels = 0;
};

// The compositor of the two pages: what each was last composed from and
// when it was last composed whole, the damage of the frame, the small buffer
// damage is composed in, and the blends that text and the logo remember.
// One belongs to the display; the main thread alone uses it.
class Compositor {
  public:
    Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // Composes *list into page (rows kPagePixelsPerRow apart) at elapsed_ms,
    // the main loop's time. A page not seen before, forgotten, or last
    // composed whole 10 s or more ago is composed whole; otherwise only the
    // damage since that page's last frame is. Reads the list and what the
    // page was last composed from; writes the page's damage, this
    // compositor's memory of the page, and list: the page keeps the list
    // just composed, and list then points to the page's old one, emptied,
    // to describe the next frame in. A list that left items out counts as
    // an overflowed frame.
    void compose(DisplayList*& list, std::uint32_t* page, std::int64_t elapsed_ms);

    // What the last compose did, for the benchmarks.
    const ComposeReport& last_report() const { return report_; }

    // Every page's content is unknown from now on: the framebuffer was
    // opened again, or a pan was refused.
    void forget_pages();

    // The list page was last composed from, or nullptr if it is forgotten.
    const DisplayList* composed_from(const std::uint32_t* page) const;

    // The frames composed from a list that had left items out.
    long long overflowed_frames() const { return overflowed_frames_; }

    // The list to describe the first frame in.
    DisplayList* first_list() { return &lists_[2]; }

  private:
    // What a page was last composed from. Two pages take turns (one in the
    // one-page fallback); a page the compositor does not know is composed
    // whole.
    struct PageMemory {
        const std::uint32_t* page = nullptr;
        DisplayList* list = nullptr;
        std::int64_t whole_ms = 0;   // when it was last composed whole
        std::uint64_t last_use = 0;  // the frame count when it was last composed
    };

    PageMemory& memory_of(const std::uint32_t* page);

    DisplayList lists_[3];
    PageMemory pages_[2];
    std::uint64_t frames_composed_ = 0;
    long long overflowed_frames_ = 0;
    ComposeReport report_;
    Damage damage_;
    BlendMemo memo_;
    std::uint32_t buffer_[kComposeBufferPixels] = {};
};
