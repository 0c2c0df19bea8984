#include "display/compositor.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "display/font.h"
#include "display/logo.h"

namespace {

constexpr std::uint32_t kRivet = 0xff806414;
constexpr std::uint32_t kStripe = 0xff8890a0;
// A rivet stands this far in from each corner of its brick; the stripe is
// two pixels wide down the middle, leaving this many rows at either end.
constexpr int kRivetInset = 6;
constexpr int kStripeEnds = 5;

// Every page is composed whole at least this often, so that anything else
// that wrote into framebuffer memory does not stay on screen.
constexpr std::int64_t kWholeEveryMs = 10000;

// Two rectangles that meet are merged when their union is at most twice
// their areas and this many pixels more.
constexpr long long kMergeSlack = 256;

// The small buffer damage is composed in: 64 KiB, twelve rows of the whole
// area's width or a taller piece of a narrower rectangle.
constexpr int kBufferPixels = 16384;
std::uint32_t buffer[kBufferPixels];

Rect intersect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

Rect unite(const Rect& a, const Rect& b) {
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

bool overlap_or_touch(const Rect& a, const Rect& b) {
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// The box of x..x+w-1, y..y+h-1 inside the area, computed in 64 bits so that
// no position or size can overflow it.
Rect box_in_area(long long x, long long y, long long w, long long h) {
    const auto clamp = [](long long v, int limit) {
        return static_cast<int>(std::clamp(v, 0LL, static_cast<long long>(limit)));
    };
    if (w <= 0 || h <= 0)
        return Rect{};
    return Rect{clamp(x, kAreaWidth), clamp(y, kAreaHeight), clamp(x + w, kAreaWidth),
                clamp(y + h, kAreaHeight)};
}

std::uint32_t mix(std::uint32_t hash, std::uint32_t value) {
    return (hash ^ value) * 16777619u;
}

void draw_item(const Canvas& canvas, const Item& item) {
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
        case ItemKind::Brick: {
            draw_block(canvas, item.x, item.y, item.w, item.h, item.colour);
            // The marks stay on the brick, however small it is.
            const Rect inside = intersect(canvas.window, item.box);
            if (inside.empty())
                break;
            const Canvas brick{canvas.at(inside.left, inside.top), canvas.stride, inside};
            const int near_x = item.x + kRivetInset;
            const int far_x = item.x + item.w - 1 - kRivetInset;
            const int near_y = item.y + kRivetInset;
            const int far_y = item.y + item.h - 1 - kRivetInset;
            if ((item.size & kBrickRivets) != 0) {
                put_pixel(brick, near_x, near_y, kRivet);
                put_pixel(brick, far_x, near_y, kRivet);
                put_pixel(brick, near_x, far_y, kRivet);
                put_pixel(brick, far_x, far_y, kRivet);
            }
            if ((item.size & kBrickStripe) != 0) {
                fill_rect(brick, item.x + item.w / 2 - 1, item.y + kStripeEnds, 2,
                          item.h - 2 * kStripeEnds, kStripe);
            }
            break;
        }
        case ItemKind::Text:
            draw_text(canvas, item.text, item.x, item.y, item.size, item.colour);
            break;
        case ItemKind::Logo:
            draw_logo(canvas, item.x, item.y, item.size);
            break;
    }
}

// ---- The pages -----------------------------------------------------------

// What a page was last composed from. Two pages take turns (one in the
// one-page fallback); a page the compositor does not know is composed whole.
struct PageMemory {
    const std::uint32_t* page = nullptr;
    DisplayList* list = nullptr;
    std::int64_t whole_ms = 0;   // when it was last composed whole
    std::uint64_t last_use = 0;  // the frame count when it was last composed
};

DisplayList lists[3];
PageMemory pages[2] = {{nullptr, &lists[0], 0, 0}, {nullptr, &lists[1], 0, 0}};
DisplayList* next_list = &lists[2];
std::uint64_t frames_composed = 0;

Damage damage;
ComposeReport report;
std::uint32_t* check_page = nullptr;
int check_every = 1;
int frames_to_check = 0;
long long mismatches = 0;

PageMemory& memory_of(const std::uint32_t* page) {
    for (PageMemory& memory : pages) {
        if (memory.page == page)
            return memory;
    }
    // The page least recently composed makes room.
    PageMemory& oldest = pages[0].last_use <= pages[1].last_use ? pages[0] : pages[1];
    oldest.page = nullptr;
    return oldest;
}

void check_frame(const std::uint32_t* page, const DisplayList& list) {
    list.draw(page_canvas(check_page));
    for (int y = 0; y < kAreaHeight; ++y) {
        const std::uint32_t* composed = page + y * kPagePixelsPerRow;
        const std::uint32_t* whole = check_page + y * kPagePixelsPerRow;
        for (int x = 0; x < kAreaWidth; ++x)
            mismatches += composed[x] != whole[x];
    }
}

}  // namespace

bool Item::same_as(const Item& other) const {
    return hash == other.hash && kind == other.kind && size == other.size && x == other.x &&
           y == other.y && w == other.w && h == other.h && colour == other.colour &&
           std::strcmp(text, other.text) == 0;
}

void DisplayList::clear() {
    // Only what the last frame's items used needs emptying.
    const int words = (count_ + 31) / 32;
    for (auto& band : bands_)
        std::fill(band, band + words, 0u);
    for (int i = 0; i < count_; ++i)
        bucket_[items_[i].hash % kBuckets] = 0;
    count_ = 0;
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

Item* DisplayList::start_item(ItemKind kind, std::uint8_t size, long long x, int y,
                              const Rect& box) {
    if (box.empty() || count_ == kCapacity)
        return nullptr;
    // Made in its place in the list: an item is larger than the work of
    // describing most of them.
    Item& item = items_[count_];
    item.kind = kind;
    item.size = size;
    item.x = static_cast<int>(x), item.y = y, item.w = 0, item.h = 0, item.colour = 0;
    item.box = box;
    item.text[0] = '\0';
    return &item;
}

void DisplayList::finish_item() {
    Item& item = items_[count_];
    std::uint32_t hash = 2166136261u;
    hash = mix(hash, static_cast<std::uint32_t>(item.kind) | item.size << 8);
    hash = mix(hash, static_cast<std::uint32_t>(item.x));
    hash = mix(hash, static_cast<std::uint32_t>(item.y));
    hash = mix(hash, static_cast<std::uint32_t>(item.w));
    hash = mix(hash, static_cast<std::uint32_t>(item.h));
    hash = mix(hash, item.colour);
    for (const char* p = item.text; *p != '\0'; ++p)
        hash = mix(hash, static_cast<unsigned char>(*p));
    item.hash = hash;
    const int slot = static_cast<int>(hash % kBuckets);
    chain_[count_] = bucket_[slot];
    const std::uint32_t bit = 1u << (count_ % 32);
    for (int band = item.box.top / kBandRows; band <= (item.box.bottom - 1) / kBandRows; ++band)
        bands_[band][count_ / 32] |= bit;
    ++count_;
    bucket_[slot] = static_cast<std::uint16_t>(count_);
}

void DisplayList::add_box(ItemKind kind, int x, int y, int w, int h, std::uint32_t colour,
                          std::uint8_t size) {
    Item* item = start_item(kind, size, x, y, box_in_area(x, y, w, h));
    if (item == nullptr)
        return;
    item->w = w, item->h = h, item->colour = colour;
    finish_item();
}

void DisplayList::fill(int x, int y, int w, int h, std::uint32_t colour) {
    add_box(ItemKind::Fill, x, y, w, h, colour, 0);
}

void DisplayList::pixel(int x, int y, std::uint32_t colour) {
    add_box(ItemKind::Pixel, x, y, 1, 1, colour, 0);
}

void DisplayList::block(int x, int y, int w, int h, std::uint32_t colour) {
    add_box(ItemKind::Block, x, y, w, h, colour, 0);
}

void DisplayList::brick(int x, int y, int w, int h, std::uint32_t colour, BrickMarks marks) {
    add_box(ItemKind::Brick, x, y, w, h, colour, marks);
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
        Item* item = end > 0 ? start_item(ItemKind::Text, static_cast<std::uint8_t>(size), pen, y,
                                          box_in_area(pen, y, end - pen,
                                                      kTextCellHeight[size - 1]))
                             : nullptr;
        if (item != nullptr) {
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
    const Rect box = step == 2 ? box_in_area(x, y, kLogoWidth / 2, kLogoHeight / 2)
                               : box_in_area(x, y, kLogoWidth, kLogoHeight);
    if (start_item(ItemKind::Logo, static_cast<std::uint8_t>(step), x, y, box) != nullptr)
        finish_item();
}

void DisplayList::draw(const Canvas& canvas) const {
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
                draw_item(canvas, item);
        }
    }
}

void Damage::add(Rect rect) {
    if (rect.empty())
        return;
    // Whatever the new rectangle meets is taken into it, and the grown
    // rectangle looked at again, until it meets nothing held.
    for (int i = 0; i < count_;) {
        if (overlap_or_touch(rects_[i], rect) &&
            unite(rects_[i], rect).area() <= 2 * (rects_[i].area() + rect.area()) + kMergeSlack) {
            rect = unite(rect, rects_[i]);
            rects_[i] = rects_[--count_];
            i = 0;
        } else {
            ++i;
        }
    }
    if (count_ < kCapacity) {
        rects_[count_++] = rect;
        return;
    }
    int best = 0;
    long long best_growth = -1;
    for (int i = 0; i < count_; ++i) {
        const long long growth = unite(rects_[i], rect).area() - rects_[i].area();
        if (best_growth < 0 || growth < best_growth) {
            best = i;
            best_growth = growth;
        }
    }
    const Rect grown = unite(rects_[best], rect);
    rects_[best] = rects_[--count_];
    add(grown);
}

long long Damage::area() const {
    long long total = 0;
    for (int i = 0; i < count_; ++i)
        total += rects_[i].area();
    return total;
}

void find_damage(const DisplayList& before, const DisplayList& after, Damage& damage) {
    // The partners found keep their order in both lists, so every pixel
    // outside the damage is drawn by the same items in the same order.
    int next = 0;
    for (int i = 0; i < after.count(); ++i) {
        const Item& item = after[i];
        // Most items are where they were in the list, next in line.
        const int partner = next < before.count() && before[next].same_as(item)
                                ? next
                                : before.find(item, next);
        if (partner < 0) {
            damage.add(item.box);
            continue;
        }
        for (int k = next; k < partner; ++k)
            damage.add(before[k].box);
        next = partner + 1;
    }
    for (int k = next; k < before.count(); ++k)
        damage.add(before[k].box);
}

void compose_rect(const DisplayList& list, const Rect& rect, std::uint32_t* page) {
    const Rect clipped = intersect(rect, kArea);
    if (clipped.empty())
        return;
    const int width = clipped.right - clipped.left;
    const int rows = kBufferPixels / width;
    for (int top = clipped.top; top < clipped.bottom; top += rows) {
        const Canvas canvas{
            buffer, width,
            Rect{clipped.left, top, clipped.right, std::min(clipped.bottom, top + rows)}};
        list.draw(canvas);
        for (int y = canvas.window.top; y < canvas.window.bottom; ++y)
            copy_pixels(page + y * kPagePixelsPerRow + clipped.left, canvas.at(clipped.left, y),
                        width);
    }
}

DisplayList& next_frame_list() {
    next_list->clear();
    return *next_list;
}

void compose_next_frame(std::uint32_t* page, std::int64_t elapsed_ms) {
    PageMemory& memory = memory_of(page);
    const bool whole = memory.page != page || elapsed_ms - memory.whole_ms >= kWholeEveryMs ||
                       elapsed_ms < memory.whole_ms;
    damage.clear();
    if (whole) {
        damage.add(kArea);
        memory.whole_ms = elapsed_ms;
    } else {
        find_damage(*memory.list, *next_list, damage);
    }
    for (int i = 0; i < damage.count(); ++i)
        compose_rect(*next_list, damage[i], page);
    report = ComposeReport{whole, damage.count(), damage.area()};

    if (check_page != nullptr && --frames_to_check <= 0) {
        check_frame(page, *next_list);
        frames_to_check = check_every;
    }

    // The list just composed is now the page's; its old one is free.
    std::swap(memory.list, next_list);
    memory.page = page;
    memory.last_use = ++frames_composed;
}

void forget_page_contents() {
    for (PageMemory& memory : pages)
        memory.page = nullptr;
}

void check_frames_against(std::uint32_t* scratch_page, int every) {
    check_page = scratch_page;
    check_every = every;
    frames_to_check = 0;
    mismatches = 0;
}

long long frame_mismatches() {
    return mismatches;
}

ComposeReport last_compose_report() {
    return report;
}
