#pragma once
// A frame as the ordered list of what it draws: a fill, a pixel, a block, a
// brick, a line of text, the logo, each with the box of the pixels it can
// touch. The screens describe a frame into one; the compositor draws from
// it and compares it with the list a page was last composed from.
#include <cstdint>
#include <cstring>

#include "display/brick.h"
#include "display/draw.h"
#include "display/rect.h"
#include "display/text.h"

enum class ItemKind : std::uint8_t { Fill, Pixel, Block, Brick, Text, Logo };

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

    // Whether the two draw the same; the hash first, so that most others
    // are told apart at once. Only a text item has a text.
    bool same_as(const Item& other) const {
        return hash == other.hash && kind == other.kind && text_size == other.text_size &&
               logo_step == other.logo_step && marks == other.marks && x == other.x &&
               y == other.y && w == other.w && h == other.h && colour == other.colour &&
               (kind != ItemKind::Text || std::strcmp(text, other.text) == 0);
    }
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
