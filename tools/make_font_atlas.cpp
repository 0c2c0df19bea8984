// Renders the game's built-in font from a TrueType file with FreeType and
// writes assets/font: one greyscale image per size (a 16 x 6 grid of cells,
// codes 32 to 126 in reading order, the last cell empty) and atlas.bin, the
// exact bytes the game embeds. Run by hand when the font changes; the output
// is committed.
//
//   make_font_atlas FONT.ttf OUTDIR [--preview DIR] [--dump CHARS]
//
// --preview writes magnified copies of the grids with the capital and
// descender rows marked; --dump prints the named glyphs of every size.
//
// Each size is fitted to its cell rather than rendered at one point size:
// the outline is mapped piecewise along y so that the baseline, the x-height
// and the capital height fall on pixel boundaries (crisp horizontal edges
// even in the 7 x 12 cell), capitals fill exactly their rows, descenders end
// exactly on the descender row, and whatever rises above the capitals or
// sinks below the descenders is pressed into the one spare row at the top or
// bottom of the cell. Stems are thinned a little at the larger sizes, where
// the face's bold weight would otherwise fill the counters, and every glyph
// is nudged by a fraction of a pixel to where its vertical edges are
// sharpest.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/font.h"
#include "png_image.h"

namespace {

constexpr int kGridColumns = 16;
constexpr int kGridRows = 6;
static_assert(kGridColumns * kGridRows >= kGlyphCount);

// Rendering happens in a larger canvas so that ink a glyph would lose outside
// its cell can be measured.
constexpr int kMargin = 16;

// Horizontal thinning of the stems in pixels, indexed by size - 1.
constexpr double kThinning[kFontSizeCount] = {0.0, 0.5, 0.9, 1.5};

// Fractions of a pixel tried when nudging a glyph sideways.
constexpr int kNudgeSteps = 3;  // -3/8 .. +3/8
constexpr double kNudgeUnit = 1.0 / 8.0;

// Marks that neither stand on the baseline nor hang from the capital line
// may also move up or down by as much, so that their bars land on whole rows.
constexpr const char* kFloatingMarks = "-=~_+*^\"'`";

// Magnification of the preview images, indexed by size - 1.
constexpr int kPreviewZoom[kFontSizeCount] = {12, 7, 5, 4};

FT_Library library = nullptr;
FT_Face face = nullptr;

// Loads a glyph's outline in font units.
bool load_outline(int code) {
    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
    if (index == 0)
        return false;
    return FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) == 0 &&
           face->glyph->format == FT_GLYPH_FORMAT_OUTLINE;
}

FT_BBox outline_box() {
    FT_BBox box;
    FT_Outline_Get_CBox(&face->glyph->outline, &box);
    return box;
}

// The face's vertical landmarks in font units.
struct Landmarks {
    double x_height = 0;
    double cap_height = 0;
    double descent = 0;  // depth of the lowest lower-case descender, positive
    double advance = 0;
};

bool measure(Landmarks& marks) {
    if (!load_outline('x'))
        return false;
    marks.x_height = static_cast<double>(outline_box().yMax);
    if (!load_outline('H'))
        return false;
    marks.cap_height = static_cast<double>(outline_box().yMax);
    marks.advance = static_cast<double>(face->glyph->metrics.horiAdvance);
    for (const char* letter = "gjpqy"; *letter != '\0'; ++letter) {
        if (!load_outline(*letter))
            return false;
        marks.descent = std::max(marks.descent, -static_cast<double>(outline_box().yMin));
    }
    return true;
}

// Where a size puts the landmarks, in pixels above the baseline.
struct Fit {
    int size = 1;
    int width = 0;
    int height = 0;
    double scale = 0;  // pixels per font unit across, and between baseline and capitals
    int baseline_row = 0;
    double x_height_px = 0;
    double cap_px = 0;
    double descent_px = 0;
    double room_above = 0;  // pixels from the capital line to the top of the cell
    double room_below = 0;  // pixels from the descender line to the bottom of the cell
};

Fit fit_size(int size, const Landmarks& marks) {
    Fit fit;
    fit.size = size;
    fit.width = kTextCellWidth[size - 1];
    fit.height = kTextCellHeight[size - 1];
    fit.baseline_row = kCapitalBottomRow[size - 1] + 1;
    fit.cap_px = kCapitalBottomRow[size - 1] - kCapitalTopRow + 1;
    fit.scale = fit.cap_px / marks.cap_height;
    fit.x_height_px = std::round(marks.x_height * fit.scale);
    fit.descent_px = kDescenderRow[size - 1] + 1 - fit.baseline_row;
    fit.room_above = kCapitalTopRow;
    fit.room_below = fit.height - fit.baseline_row - fit.descent_px;
    return fit;
}

// The piecewise-linear map from font units to pixels above the baseline for
// one glyph whose outline spans bottom..top units.
struct VerticalMap {
    Landmarks marks;
    Fit fit;
    double above_scale = 0;
    double below_scale = 0;

    VerticalMap(const Landmarks& m, const Fit& f, double bottom, double top) : marks(m), fit(f) {
        above_scale = fit.scale;
        if (top > marks.cap_height) {
            above_scale = std::min(above_scale, fit.room_above / (top - marks.cap_height));
        }
        const double below_descent = fit.descent_px / marks.descent;
        below_scale = below_descent;
        if (-bottom > marks.descent) {
            below_scale = std::min(below_scale, fit.room_below / (-bottom - marks.descent));
        }
    }

    double operator()(double y) const {
        if (y >= marks.cap_height)
            return fit.cap_px + (y - marks.cap_height) * above_scale;
        if (y >= marks.x_height) {
            return fit.x_height_px + (y - marks.x_height) * (fit.cap_px - fit.x_height_px) /
                                         (marks.cap_height - marks.x_height);
        }
        if (y >= 0)
            return y * fit.x_height_px / marks.x_height;
        if (y >= -marks.descent)
            return y * fit.descent_px / marks.descent;
        return -fit.descent_px + (y + marks.descent) * below_scale;
    }
};

struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> coverage;
};

// Renders a glyph, fitted to its cell and shifted nudge_x pixels to the right
// and nudge_y down, into a canvas of the cell plus margins.
bool render(int code, const Landmarks& marks, const Fit& fit, double nudge_x, double nudge_y,
            Canvas& canvas) {
    canvas.width = fit.width + 2 * kMargin;
    canvas.height = fit.height + 2 * kMargin;
    canvas.coverage.assign(static_cast<std::size_t>(canvas.width) * canvas.height, 0);
    if (!load_outline(code))
        return false;
    const FT_BBox box = outline_box();
    const VerticalMap map(marks, fit, static_cast<double>(box.yMin), static_cast<double>(box.yMax));
    FT_Outline& outline = face->glyph->outline;
    // Thinning pulls in the right-hand edges only; half of it is given back
    // here so that the glyph stays centred.
    const double thinning = kThinning[fit.size - 1];
    const double left =
        kMargin + (fit.width - marks.advance * fit.scale) / 2.0 + thinning / 2.0 + nudge_x;
    // From the bottom of the canvas: FreeType's y grows upwards.
    const double baseline = canvas.height - kMargin - fit.baseline_row - nudge_y;
    for (int i = 0; i < outline.n_points; ++i) {
        FT_Vector& point = outline.points[i];
        const double x = left + static_cast<double>(point.x) * fit.scale;
        const double y = baseline + map(static_cast<double>(point.y));
        point.x = static_cast<FT_Pos>(std::lround(x * 64.0));
        point.y = static_cast<FT_Pos>(std::lround(y * 64.0));
    }
    if (thinning > 0)
        FT_Outline_EmboldenXY(&outline, -static_cast<FT_Pos>(thinning * 64.0), 0);

    FT_Bitmap bitmap;
    FT_Bitmap_Init(&bitmap);
    bitmap.rows = static_cast<unsigned>(canvas.height);
    bitmap.width = static_cast<unsigned>(canvas.width);
    bitmap.pitch = canvas.width;
    bitmap.buffer = canvas.coverage.data();
    bitmap.num_grays = 256;
    bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
    return FT_Outline_Get_Bitmap(library, &outline, &bitmap) == 0;
}

// How blurred a glyph looks: partial coverage counts, full and empty do not.
long blur(const Canvas& canvas) {
    long total = 0;
    for (const std::uint8_t a : canvas.coverage)
        total += static_cast<long>(a) * (255 - a);
    return total;
}

// Ink outside the cell.
long lost_ink(const Canvas& canvas, const Fit& fit) {
    long total = 0;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const bool inside =
                x >= kMargin && x < kMargin + fit.width && y >= kMargin && y < kMargin + fit.height;
            if (!inside)
                total += canvas.coverage[y * canvas.width + x];
        }
    }
    return total;
}

// Renders the sharpest placement of a glyph into its slot.
bool render_glyph(int code, const Landmarks& marks, const Fit& fit, std::uint8_t* slot) {
    if (code == ' ')
        return true;  // the slot stays empty
    const bool floating = std::strchr(kFloatingMarks, code) != nullptr;
    Canvas best;
    long best_blur = -1;
    // Offsets in the order 0, -1, +1, -2, +2 ...: ties keep the smaller nudge.
    auto offset = [](int step) { return (step % 2 == 0 ? 1 : -1) * ((step + 1) / 2); };
    for (int step_y = 0; step_y <= (floating ? 2 * kNudgeSteps : 0); ++step_y) {
        for (int step_x = 0; step_x <= 2 * kNudgeSteps; ++step_x) {
            Canvas canvas;
            if (!render(code, marks, fit, offset(step_x) * kNudgeUnit, offset(step_y) * kNudgeUnit,
                        canvas)) {
                std::fprintf(stderr, "make_font_atlas: the font has no glyph for '%c'\n", code);
                return false;
            }
            if (lost_ink(canvas, fit) > 0)
                continue;
            const long score = blur(canvas);
            if (best_blur < 0 || score < best_blur) {
                best_blur = score;
                best = canvas;
            }
        }
    }
    if (best_blur < 0) {
        std::fprintf(stderr, "make_font_atlas: '%c' does not fit the %d x %d cell\n", code,
                     fit.width, fit.height);
        return false;
    }
    for (int r = 0; r < fit.height; ++r) {
        for (int c = 0; c < fit.width; ++c) {
            slot[r * fit.width + c] = best.coverage[(kMargin + r) * best.width + kMargin + c];
        }
    }
    return true;
}

png::Image grid_image(const std::uint8_t* size_slots, const Fit& fit) {
    png::Image grid;
    grid.width = kGridColumns * fit.width;
    grid.height = kGridRows * fit.height;
    grid.channels = 1;
    grid.pixels.assign(static_cast<std::size_t>(grid.width) * grid.height, 0);
    for (int index = 0; index < kGlyphCount; ++index) {
        const std::uint8_t* slot = size_slots + index * kGlyphSlotBytes;
        const int left = (index % kGridColumns) * fit.width;
        const int top = (index / kGridColumns) * fit.height;
        for (int r = 0; r < fit.height; ++r) {
            std::memcpy(&grid.pixels[(top + r) * grid.width + left], slot + r * fit.width,
                        fit.width);
        }
    }
    return grid;
}

// A magnified grid with a gap between cells and the capital rows and the
// descender row tinted where they are empty, for checking the fit by eye.
png::Image preview_image(const std::uint8_t* size_slots, const Fit& fit, int zoom) {
    png::Image preview;
    const int cell_w = fit.width * zoom + 2;
    const int cell_h = fit.height * zoom + 2;
    preview.width = kGridColumns * cell_w;
    preview.height = kGridRows * cell_h;
    preview.channels = 3;
    preview.pixels.assign(static_cast<std::size_t>(preview.width) * preview.height * 3, 70);
    for (int index = 0; index < kGlyphCount; ++index) {
        const std::uint8_t* slot = size_slots + index * kGlyphSlotBytes;
        for (int r = 0; r < fit.height; ++r) {
            const bool marked = r == kCapitalTopRow || r == kCapitalBottomRow[fit.size - 1] ||
                                r == kDescenderRow[fit.size - 1];
            for (int c = 0; c < fit.width; ++c) {
                const std::uint8_t a = slot[r * fit.width + c];
                for (int dy = 0; dy < zoom; ++dy) {
                    for (int dx = 0; dx < zoom; ++dx) {
                        const int x = (index % kGridColumns) * cell_w + 1 + c * zoom + dx;
                        const int y = (index / kGridColumns) * cell_h + 1 + r * zoom + dy;
                        std::uint8_t* p = &preview.pixels[(y * preview.width + x) * 3];
                        p[0] = p[1] = p[2] = a;
                        if (marked && a == 0)
                            p[0] = 50;
                    }
                }
            }
        }
    }
    return preview;
}

void dump_glyph(const std::uint8_t* slot, int code, const Fit& fit) {
    std::printf("'%c' size %d\n", code, fit.size);
    for (int r = 0; r < fit.height; ++r) {
        std::printf("%2d ", r);
        for (int c = 0; c < fit.width; ++c) {
            const int a = slot[r * fit.width + c];
            std::putchar(a == 0 ? '.' : a < 64 ? ':' : a < 128 ? '+' : a < 192 ? '*' : '#');
        }
        std::putchar('\n');
    }
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: make_font_atlas FONT.ttf OUTDIR [--preview DIR] [--dump CHARS]\n");
        return 2;
    }
    const std::string outdir = argv[2];
    std::string preview_dir;
    std::string dump;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--preview") == 0) {
            preview_dir = argv[i + 1];
        } else if (std::strcmp(argv[i], "--dump") == 0) {
            dump = argv[i + 1];
        } else {
            std::fprintf(stderr, "make_font_atlas: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, argv[1], 0, &face) != 0) {
        std::fprintf(stderr, "make_font_atlas: cannot open %s\n", argv[1]);
        return 1;
    }
    Landmarks marks;
    if (!measure(marks)) {
        std::fprintf(stderr, "make_font_atlas: %s lacks the letters to measure\n", argv[1]);
        return 1;
    }
    std::printf("%s %s: %d units/em, x-height %.0f, capitals %.0f, descent %.0f, advance %.0f\n",
                face->family_name, face->style_name, face->units_per_EM, marks.x_height,
                marks.cap_height, marks.descent, marks.advance);

    std::vector<std::uint8_t> atlas(kFontAtlasBytes, 0);
    for (int size = 1; size <= kFontSizeCount; ++size) {
        const Fit fit = fit_size(size, marks);
        std::printf("size %d: %d x %d cell, %.2f px/em, x-height %.0f px, descent %.0f px\n", size,
                    fit.width, fit.height, fit.scale * face->units_per_EM, fit.x_height_px,
                    fit.descent_px);
        std::uint8_t* slots = &atlas[(size - 1) * kFontSizeBytes];
        for (int code = kFirstGlyphCode; code <= kLastGlyphCode; ++code) {
            if (!render_glyph(code, marks, fit,
                              slots + (code - kFirstGlyphCode) * kGlyphSlotBytes)) {
                return 1;
            }
        }
        for (const char code : dump) {
            if (code >= kFirstGlyphCode && code <= kLastGlyphCode) {
                dump_glyph(slots + (code - kFirstGlyphCode) * kGlyphSlotBytes, code, fit);
            }
        }
        const std::string grid_path = outdir + "/size" + std::to_string(size) + ".png";
        if (!png::write(grid_path.c_str(), grid_image(slots, fit)))
            return 1;
        if (!preview_dir.empty()) {
            const std::string path = preview_dir + "/preview" + std::to_string(size) + ".png";
            if (!png::write(path.c_str(), preview_image(slots, fit, kPreviewZoom[size - 1])))
                return 1;
        }
    }
    if (!write_file(outdir + "/atlas.bin", atlas)) {
        std::fprintf(stderr, "make_font_atlas: cannot write %s/atlas.bin\n", outdir.c_str());
        return 1;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return 0;
}
