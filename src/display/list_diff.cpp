#include "display/list_diff.h"

#include <algorithm>
#include <cstring>

#include "display/font.h"

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
        damage.add(clip_box(start, now.y, piece, across, kArea));
        damage.add(clip_box(far, now.y, piece, across, kArea));
    } else {
        damage.add(clip_box(now.x, start, across, piece, kArea));
        damage.add(clip_box(now.x, far, across, piece, kArea));
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
            damage.add(clip_box(static_cast<long long>(now.x) + first * width, now.y,
                                (cell - first) * width, kTextCellHeight[now.text_size - 1], kArea));
            first = -1;
        }
    }
    return true;
}

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
