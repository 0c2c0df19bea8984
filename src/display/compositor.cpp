#include "display/compositor.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "display/font.h"
#include "display/logo.h"

namespace {

// Every page is composed whole at least this often, so that anything else
// that wrote into framebuffer memory does not stay on screen.
constexpr std::int64_t kWholeEveryMs = 10000;

// Two rectangles that meet are merged when their union is at most twice
// their areas and this many pixels more.
constexpr long long kMergeSlack = 256;

Rect intersect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

Rect unite(const Rect& a, const Rect& b) {
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// The index of the lowest bit set, counted in 32-bit halves: 32-bit ARM has
// an instruction for those and a library call for 64 bits.
int lowest_bit(std::uint64_t bits) {
    const auto low = static_cast<std::uint32_t>(bits);
    return low != 0 ? std::countr_zero(low)
                    : 32 + std::countr_zero(static_cast<std::uint32_t>(bits >> 32));
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

bool Item::same_as(const Item& other) const {
    // Only a text item has a text.
    return hash == other.hash && kind == other.kind && text_size == other.text_size &&
           logo_step == other.logo_step && marks == other.marks && x == other.x && y == other.y &&
           w == other.w && h == other.h && colour == other.colour &&
           (kind != ItemKind::Text || std::strcmp(text, other.text) == 0);
}

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
    Item* item = start_item(kind, x, y, box_in_area(x, y, w, h));
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
        Item* item = end > 0 ? start_item(ItemKind::Text, pen, y,
                                          box_in_area(pen, y, end - pen, kTextCellHeight[size - 1]))
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
    const Rect box = step == 2 ? box_in_area(x, y, kLogoWidth / 2, kLogoHeight / 2)
                               : box_in_area(x, y, kLogoWidth, kLogoHeight);
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

void Damage::clear() {
    count_ = 0;
    for (std::uint64_t& band : bands_)
        band = 0;
}

void Damage::mark(const Rect& rect, int index, bool on) {
    const int first = std::clamp(rect.top / kBandRows, 0, kBands - 1);
    const int last = std::clamp((rect.bottom - 1) / kBandRows, 0, kBands - 1);
    const std::uint64_t bit = std::uint64_t{1} << index;
    for (int band = first; band <= last; ++band)
        bands_[band] = on ? bands_[band] | bit : bands_[band] & ~bit;
}

void Damage::hold(int index, const Rect& rect) {
    rects_[index] = rect;
    mark(rect, index, true);
}

void Damage::drop(int index) {
    mark(rects_[index], index, false);
    const int last = --count_;
    if (index != last) {
        mark(rects_[last], last, false);
        hold(index, rects_[last]);
    }
}

std::uint64_t Damage::near(const Rect& rect) const {
    // A rectangle meets those that overlap it or touch it, one row further.
    const int first = std::clamp((rect.top - 1) / kBandRows, 0, kBands - 1);
    const int last = std::clamp(rect.bottom / kBandRows, 0, kBands - 1);
    std::uint64_t found = 0;
    for (int band = first; band <= last; ++band)
        found |= bands_[band];
    return found;
}

void Damage::add(Rect rect) {
    if (rect.empty())
        return;
    // Whatever the new rectangle meets is taken into it, and the grown
    // rectangle looked at again, until it meets nothing held; the held ones
    // are looked at in their order.
    for (std::uint64_t candidates = near(rect); candidates != 0;) {
        const int i = lowest_bit(candidates);
        candidates &= candidates - 1;
        if (overlap_or_touch(rects_[i], rect) &&
            unite(rects_[i], rect).area() <= 2 * (rects_[i].area() + rect.area()) + kMergeSlack) {
            rect = unite(rect, rects_[i]);
            drop(i);
            candidates = near(rect);
        }
    }
    if (count_ < kCapacity) {
        hold(count_++, rect);
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
    drop(best);
    add(grown);
}

long long Damage::area() const {
    long long total = 0;
    for (int i = 0; i < count_; ++i)
        total += rects_[i].area();
    return total;
}

namespace {

// A fill or a block paints every pixel of its box, whatever lies beneath,
// and looks the same at any place but for its edges: where an old and a new
// one of the same size and colour both have their inside, the page keeps
// its colour. So one moved along a row damages only the columns near its
// two ends, and one moved along a column only the rows near its top and
// bottom. Adds those two pieces when now is old moved so, and they are much
// smaller than the two boxes together, by the measure rectangles are merged
// with; otherwise adds nothing and answers false.
bool add_moved(const Item& old, const Item& now, Damage& damage) {
    const bool opaque = now.kind == ItemKind::Fill || now.kind == ItemKind::Block;
    const bool along_row = old.y == now.y;
    if (!opaque || old.kind != now.kind || old.w != now.w || old.h != now.h ||
        old.colour != now.colour || (!along_row && old.x != now.x))
        return false;
    const int edge = now.kind == ItemKind::Fill ? 0 : kBlockEdge;
    // Along a row, the pieces are columns of the block's height, and the
    // other way about.
    const long long start = along_row ? std::min(old.x, now.x) : std::min(old.y, now.y);
    const long long length = along_row ? now.w : now.h;
    const long long across = along_row ? now.h : now.w;
    const long long moved_by = along_row ? std::abs(static_cast<long long>(now.x) - old.x)
                                         : std::abs(static_cast<long long>(now.y) - old.y);
    const long long piece = moved_by + edge;
    if (2 * piece >= length ||
        unite(old.box, now.box).area() <= 2 * (2 * piece * across) + kMergeSlack)
        return false;
    const long long far = start + length - edge;
    if (along_row) {
        damage.add(box_in_area(start, now.y, piece, across));
        damage.add(box_in_area(far, now.y, piece, across));
    } else {
        damage.add(box_in_area(now.x, start, across, piece));
        damage.add(box_in_area(now.x, far, across, piece));
    }
    return true;
}

// A line of text draws each character in a cell of its own, the same for
// the same character over the same pixels. Adds, when now is old with other
// characters at the same place, size and colour, only the cells whose
// characters differ (a score's last digits); otherwise adds nothing and
// answers false.
bool add_retexted(const Item& old, const Item& now, Damage& damage) {
    if (now.kind != ItemKind::Text || old.kind != ItemKind::Text || old.x != now.x ||
        old.y != now.y || old.text_size != now.text_size || old.colour != now.colour)
        return false;
    const int width = kTextCellWidth[now.text_size - 1];
    const int old_length = static_cast<int>(std::strlen(old.text));
    const int now_length = static_cast<int>(std::strlen(now.text));
    const int cells = std::max(old_length, now_length);
    int first = -1;  // where the run of differing cells began, -1 outside one
    for (int cell = 0; cell <= cells; ++cell) {
        const bool differs = cell < cells && (cell >= old_length || cell >= now_length ||
                                              old.text[cell] != now.text[cell]);
        if (differs && first < 0) {
            first = cell;
        } else if (!differs && first >= 0) {
            damage.add(box_in_area(static_cast<long long>(now.x) + first * width, now.y,
                                   (cell - first) * width, kTextCellHeight[now.text_size - 1]));
            first = -1;
        }
    }
    return true;
}

}  // namespace

namespace {

// How far among the old items of a gap a new one looks for the item it may
// be, moved or with other characters.
constexpr int kGapLookAhead = 8;

// The damage of a gap between two pairs of equal items: the new items
// after[new_begin..new_end) and the old before[old_begin..old_end). A new
// item that is one of the next old ones moved, or with other characters, is
// paired with it and damages only where the two differ (the old ones passed
// over damage their boxes); every other item damages its box.
void add_gap(const DisplayList& before, int old_begin, int old_end, const DisplayList& after,
             int new_begin, int new_end, Damage& damage) {
    int old = old_begin;
    for (int i = new_begin; i < new_end; ++i) {
        const Item& item = after[i];
        // Only blocks, fills and texts gain from a partner.
        const bool text = item.kind == ItemKind::Text;
        const int last = text || item.kind == ItemKind::Fill || item.kind == ItemKind::Block
                             ? std::min(old_end, old + kGapLookAhead)
                             : old;
        int k = old;
        while (k < last &&
               (before[k].kind != item.kind || !(text ? add_retexted(before[k], item, damage)
                                                      : add_moved(before[k], item, damage))))
            ++k;
        if (k == last) {
            damage.add(item.box);
            continue;
        }
        for (; old < k; ++old)
            damage.add(before[old].box);
        old = k + 1;
    }
    for (; old < old_end; ++old)
        damage.add(before[old].box);
}

}  // namespace

void find_damage(const DisplayList& before, const DisplayList& after, Damage& damage) {
    // The partners found keep their order in both lists, so every pixel
    // outside the damage is drawn by the same items in the same order (or by
    // items paired in a gap, which draw it alike).
    int next = 0;      // the first old item after the last pair
    int gap_from = 0;  // the first new item after the last pair
    for (int i = 0; i < after.count(); ++i) {
        const Item& item = after[i];
        // Most items are where they were in the list, next in line.
        const int partner =
            next < before.count() && before[next].same_as(item) ? next : before.find(item, next);
        if (partner < 0)
            continue;
        add_gap(before, next, partner, after, gap_from, i, damage);
        next = partner + 1;
        gap_from = i + 1;
    }
    add_gap(before, next, before.count(), after, gap_from, after.count(), damage);
}

void compose_rect(const DisplayList& list, const Rect& rect, std::uint32_t* page,
                  std::uint32_t* buffer, BlendMemo& memo) {
    const Rect clipped = intersect(rect, kArea);
    if (clipped.empty())
        return;
    const int width = clipped.right - clipped.left;
    const int rows = kComposeBufferPixels / width;
    for (int top = clipped.top; top < clipped.bottom; top += rows) {
        const Canvas canvas{
            buffer, width,
            Rect{clipped.left, top, clipped.right, std::min(clipped.bottom, top + rows)}};
        list.draw(canvas, memo);
        for (int y = canvas.window.top; y < canvas.window.bottom; ++y)
            copy_pixels(page + y * kPagePixelsPerRow + clipped.left, canvas.at(clipped.left, y),
                        width);
    }
}

Compositor::Compositor() {
    pages_[0].list = &lists_[0];
    pages_[1].list = &lists_[1];
}

Compositor::PageMemory& Compositor::memory_of(const std::uint32_t* page) {
    for (PageMemory& memory : pages_) {
        if (memory.page == page)
            return memory;
    }
    // The page least recently composed makes room.
    PageMemory& oldest = pages_[0].last_use <= pages_[1].last_use ? pages_[0] : pages_[1];
    oldest.page = nullptr;
    return oldest;
}

void Compositor::compose(DisplayList*& list, std::uint32_t* page, std::int64_t elapsed_ms) {
    PageMemory& memory = memory_of(page);
    const bool whole = memory.page != page || elapsed_ms - memory.whole_ms >= kWholeEveryMs ||
                       elapsed_ms < memory.whole_ms;
    damage_.clear();
    if (whole) {
        damage_.add(kArea);
        memory.whole_ms = elapsed_ms;
    } else {
        find_damage(*memory.list, *list, damage_);
    }
    for (int i = 0; i < damage_.count(); ++i)
        compose_rect(*list, damage_[i], page, buffer_, memo_);
    report_ = ComposeReport{whole, damage_.count(), damage_.area()};
    if (list->left_out() > 0)
        ++overflowed_frames_;

    // The list just composed is now the page's; its old one is free.
    std::swap(memory.list, list);
    list->clear();
    memory.page = page;
    memory.last_use = ++frames_composed_;
}

void Compositor::forget_pages() {
    for (PageMemory& memory : pages_)
        memory.page = nullptr;
}

const DisplayList* Compositor::composed_from(const std::uint32_t* page) const {
    for (const PageMemory& memory : pages_) {
        if (memory.page == page && page != nullptr)
            return memory.list;
    }
    return nullptr;
}
