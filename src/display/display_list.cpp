#include "display/display_list.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "display/font.h"
#include "display/logo.h"

namespace {

std::uint32_t fnv_step(std::uint32_t hash, std::uint32_t value) {
    return (hash ^ value) * 16777619u;
}

void draw_item(const Canvas& canvas, BlendMemo& memo, const Item& item) {
    switch (item.kind) {
        case ItemKind::Fill:
            fill_rect(canvas, item.x, item.y, item.w, item.h, item.colour);
            break;
        case ItemKind::Pixel:
            put_pixel(canvas, item.x, item.y, item.colour);
            break;
        case ItemKind::Block:
            draw_block(canvas, item.x, item.y, item.w, item.h, item.colour);
            break;
        case ItemKind::Brick:
            draw_brick(canvas, item.x, item.y, item.w, item.h, item.colour, item.marks);
            break;
        case ItemKind::Text:
            draw_text(canvas, memo, item.text, item.x, item.y, item.text_size, item.colour);
            break;
        case ItemKind::Logo:
            draw_logo(canvas, memo, item.x, item.y, item.logo_step);
            break;
    }
}

}  // namespace

void DisplayList::clear() {
    // Only what the last frame's items used needs emptying.
    const int words = (count_ + 31) / 32;
    for (auto& band : bands_)
        std::fill(band, band + words, 0u);
    for (int i = 0; i < count_; ++i)
        bucket_[items_[i].hash % kBuckets] = 0;
    count_ = 0;
    left_out_ = 0;
}

int DisplayList::find(const Item& item, int from) const {
    int found = -1;
    for (int index = bucket_[item.hash % kBuckets]; index != 0; index = chain_[index - 1]) {
        const int k = index - 1;
        if (k < from)
            break;  // the chain runs from the latest index down
        if (items_[k].same_as(item))
            found = k;
    }
    return found;
}

Item* DisplayList::start_item(ItemKind kind, long long x, int y, const Rect& box) {
    if (box.empty())
        return nullptr;
    if (count_ == kCapacity) {
        ++left_out_;
        return nullptr;
    }
    // Made in its place in the list: an item is larger than the work of
    // describing most of them.
    Item& item = items_[count_];
    item.kind = kind;
    item.text_size = 0, item.logo_step = 0, item.marks = kBrickPlain;
    item.x = static_cast<int>(x), item.y = y, item.w = 0, item.h = 0, item.colour = 0;
    item.box = box;
    item.text[0] = '\0';
    return &item;
}

void DisplayList::finish_item() {
    Item& item = items_[count_];
    std::uint32_t hash = 2166136261u;
    hash = fnv_step(hash, static_cast<std::uint32_t>(item.kind) | item.text_size << 8 |
                              item.logo_step << 16 | static_cast<std::uint32_t>(item.marks) << 24);
    hash = fnv_step(hash, static_cast<std::uint32_t>(item.x));
    hash = fnv_step(hash, static_cast<std::uint32_t>(item.y));
    hash = fnv_step(hash, static_cast<std::uint32_t>(item.w));
    hash = fnv_step(hash, static_cast<std::uint32_t>(item.h));
    hash = fnv_step(hash, item.colour);
    for (const char* p = item.text; *p != '\0'; ++p)
        hash = fnv_step(hash, static_cast<unsigned char>(*p));
    item.hash = hash;
    const int slot = static_cast<int>(hash % kBuckets);
    chain_[count_] = bucket_[slot];
    const std::uint32_t bit = 1u << (count_ % 32);
    for (int band = item.box.top / kBandRows; band <= (item.box.bottom - 1) / kBandRows; ++band)
        bands_[band][count_ / 32] |= bit;
    ++count_;
    bucket_[slot] = static_cast<std::uint16_t>(count_);
}

Item* DisplayList::add_box(ItemKind kind, int x, int y, int w, int h, std::uint32_t colour) {
    Item* item = start_item(kind, x, y, clip_box(x, y, w, h, kArea));
    if (item != nullptr)
        item->w = w, item->h = h, item->colour = colour;
    return item;
}

void DisplayList::fill(int x, int y, int w, int h, std::uint32_t colour) {
    if (add_box(ItemKind::Fill, x, y, w, h, colour) != nullptr)
        finish_item();
}

void DisplayList::pixel(int x, int y, std::uint32_t colour) {
    if (add_box(ItemKind::Pixel, x, y, 1, 1, colour) != nullptr)
        finish_item();
}

void DisplayList::block(int x, int y, int w, int h, std::uint32_t colour) {
    if (add_box(ItemKind::Block, x, y, w, h, colour) != nullptr)
        finish_item();
}

void DisplayList::brick(int x, int y, int w, int h, std::uint32_t colour, BrickMarks marks) {
    Item* item = add_box(ItemKind::Brick, x, y, w, h, colour);
    if (item == nullptr)
        return;
    item->marks = marks;
    finish_item();
}

void DisplayList::text(const char* text, int x, int y, int size, std::uint32_t colour) {
    if (size < 1 || size > kFontSizeCount)
        return;
    const int width = kTextCellWidth[size - 1];
    // A long line is kept in pieces, each starting where the last ended.
    long long pen = x;
    std::size_t length = std::strlen(text);
    while (length > 0 && pen < kAreaWidth) {
        const std::size_t piece = std::min<std::size_t>(length, kItemTextBytes - 1);
        const long long end = pen + static_cast<long long>(piece) * width;
        Item* item = end > 0
                         ? start_item(ItemKind::Text, pen, y,
                                      clip_box(pen, y, end - pen, kTextCellHeight[size - 1], kArea))
                         : nullptr;
        if (item != nullptr) {
            item->text_size = static_cast<std::uint8_t>(size);
            item->colour = colour;
            std::memcpy(item->text, text, piece);
            item->text[piece] = '\0';
            finish_item();
        }
        text += piece;
        length -= piece;
        pen = end;
    }
}

void DisplayList::logo(int x, int y, int step) {
    const Rect box = step == 2 ? clip_box(x, y, kLogoWidth / 2, kLogoHeight / 2, kArea)
                               : clip_box(x, y, kLogoWidth, kLogoHeight, kArea);
    Item* item = start_item(ItemKind::Logo, x, y, box);
    if (item == nullptr)
        return;
    item->logo_step = static_cast<std::uint8_t>(step);
    finish_item();
}

void DisplayList::draw(const Canvas& canvas, BlendMemo& memo) const {
    const Rect& window = canvas.window;
    // Every item lies inside the area.
    const Rect inside = intersect(window, kArea);
    if (inside.empty())
        return;
    const int first_band = inside.top / kBandRows;
    const int last_band = (inside.bottom - 1) / kBandRows;
    const int words = (count_ + 31) / 32;
    for (int word = 0; word < words; ++word) {
        // The items of the window's bands, in list order.
        std::uint32_t items = 0;
        for (int band = first_band; band <= last_band; ++band)
            items |= bands_[band][word];
        while (items != 0) {
            const Item& item = items_[word * 32 + std::countr_zero(items)];
            items &= items - 1;
            if (!intersect(item.box, window).empty())
                draw_item(canvas, memo, item);
        }
    }
}
