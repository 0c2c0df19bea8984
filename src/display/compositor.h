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
// State kept here, written by the main thread alone (compose_frame): three
// lists (one per page, one for the frame being described), what each page
// was last composed from and when it was last composed whole, the damage of
// the frame, the small buffer, and the test mode's scratch page and count.
#include <cstdint>

#include "display/draw.h"

enum class ItemKind : std::uint8_t { Fill, Pixel, Block, Brick, Text, Logo };

// Marks a brick can carry on top of its block.
enum BrickMarks : std::uint8_t { kBrickPlain = 0, kBrickRivets = 1, kBrickStripe = 2 };

constexpr int kItemTextBytes = 52;  // a longer text is kept as several items

struct Item {
    ItemKind kind = ItemKind::Fill;
    std::uint8_t size = 0;  // text size, logo step, or a brick's marks
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
    // moving part, overlay and text); items beyond it are left out.
    static constexpr int kCapacity = 384;

    void clear();
    int count() const { return count_; }
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

    // Draws every item that touches the canvas, in order.
    void draw(const Canvas& canvas) const;

    // The area is cut into bands of this many rows, each knowing which items
    // reach into it, so that a small rectangle looks at few items.
    static constexpr int kBandRows = 16;
    static constexpr int kBands = (kAreaHeight + kBandRows - 1) / kBandRows;

  private:
    // The next item, its kind, size, place and box set and everything else
    // empty, or nullptr when the box is empty or the list full; then
    // finish_item keeps it.
    Item* start_item(ItemKind kind, std::uint8_t size, long long x, int y, const Rect& box);
    void finish_item();
    // An item drawn inside x, y, w, h.
    void add_box(ItemKind kind, int x, int y, int w, int h, std::uint32_t colour,
                 std::uint8_t size);

    // Items by hash: bucket_ holds the latest index + 1 of its hashes (0:
    // none), chain_ each item's predecessor in its bucket, the same way.
    static constexpr int kBuckets = 512;

    static constexpr int kWords = (kCapacity + 31) / 32;

    Item items_[kCapacity];
    int count_ = 0;
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
    // Each band of the area's rows knows which rectangles reach into it, so
    // that a new one is held against the few it may meet.
    static constexpr int kBandRows = 16;
    static constexpr int kBands = (kAreaHeight + kBandRows - 1) / kBandRows;

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
// rectangle, through the small buffer.
void compose_rect(const DisplayList& list, const Rect& rect, std::uint32_t* page);

// The list to describe the next frame in, emptied.
DisplayList& next_frame_list();

// Composes the list from next_frame_list into the page. A page not seen
// before, forgotten, or last composed whole 10 s or more ago is composed
// whole; otherwise only the damage since that page's last frame is.
void compose_next_frame(std::uint32_t* page, std::int64_t elapsed_ms);

// Every page's content is unknown from now on: the framebuffer was opened
// again, or a pan was refused.
void forget_page_contents();

// A test mode: every frame (or every n-th) is also composed whole, straight
// into this page (a scratch page of the caller's, rows kPagePixelsPerRow
// apart, 720 of them), and the two compared; nullptr ends it.
// frame_mismatches counts the pixels that differed since the mode began.
void check_frames_against(std::uint32_t* scratch_page, int every = 1);
long long frame_mismatches();

// What the last compose_next_frame did, for benchmarks and tests.
struct ComposeReport {
    bool whole = false;
    int rects = 0;
    long long pixels = 0;
};
ComposeReport last_compose_report();
