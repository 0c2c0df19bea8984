// Draws the game's mark and writes assets/logo: logo.png (white, the mark in
// the alpha channel, for looking at) and logo.bin (103 x 100 pixels in the
// framebuffer's byte order, colour bytes zero, alpha carrying the image), the
// exact bytes the game embeds. Run by hand when the mark changes; the output
// is committed.
//
//   make_logo OUTDIR [--preview FILE]
//
// The mark: a ball bursting through a brick wall, the broken brick's shards
// flying off, above the paddle that sent it, with the ball's trail between.
// Shapes are described in continuous coordinates and supersampled, so every
// edge is soft. The game also shows the mark at half size by taking every
// second pixel, so edges and gaps are kept on even coordinates and at least
// 4 pixels wide, which leaves 2 after halving.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/logo.h"
#include "png_image.h"

namespace {

constexpr int kSupersample = 8;

struct Point {
    double x;
    double y;
};

double length(Point p) {
    return std::sqrt(p.x * p.x + p.y * p.y);
}

// Signed distances: negative inside.
double rounded_box(Point p, double left, double top, double right, double bottom, double radius) {
    const Point centre{(left + right) / 2, (top + bottom) / 2};
    const Point half{(right - left) / 2 - radius, (bottom - top) / 2 - radius};
    const Point q{std::fabs(p.x - centre.x) - half.x, std::fabs(p.y - centre.y) - half.y};
    const double outside = length({std::max(q.x, 0.0), std::max(q.y, 0.0)});
    return outside + std::min(std::max(q.x, q.y), 0.0) - radius;
}

double disc(Point p, Point centre, double radius) {
    return length({p.x - centre.x, p.y - centre.y}) - radius;
}

// A convex polygon given clockwise on screen (y down).
double polygon(Point p, const Point* corners, int count) {
    double distance = -1e9;
    for (int i = 0; i < count; ++i) {
        const Point a = corners[i];
        const Point b = corners[(i + 1) % count];
        const Point edge{b.x - a.x, b.y - a.y};
        const double edge_length = length(edge);
        // Outward normal of a clockwise (on screen) polygon.
        const Point normal{edge.y / edge_length, -edge.x / edge_length};
        distance = std::max(distance, (p.x - a.x) * normal.x + (p.y - a.y) * normal.y);
    }
    return distance;
}

// The trail: a stroke from a to b whose half-width shrinks from wide to
// narrow; returns the distance and, through along, how far from a (0..1).
double tapered_stroke(Point p, Point a, Point b, double wide, double narrow, double& along) {
    const Point ab{b.x - a.x, b.y - a.y};
    const Point ap{p.x - a.x, p.y - a.y};
    const double t =
        std::clamp((ap.x * ab.x + ap.y * ab.y) / (ab.x * ab.x + ab.y * ab.y), 0.0, 1.0);
    along = t;
    const Point nearest{a.x + ab.x * t, a.y + ab.y * t};
    return length({p.x - nearest.x, p.y - nearest.y}) - (wide + (narrow - wide) * t);
}

// The mark's geometry.
constexpr double kBrickHeight = 16;
constexpr double kRowTops[2] = {8, 28};
constexpr double kBrickRadius = 3;
struct Span {
    double left;
    double right;
};
// The wall runs the full width of the image (the half-size logo samples the
// last columns too). The second row is offset by half a brick; its third
// brick is the broken one.
constexpr Span kTopRow[3] = {{0.5, 31.8}, {35.8, 67.2}, {71.2, 102.5}};
constexpr Span kBottomRow[3] = {{0.5, 14}, {18, 49.5}, {89, 102.5}};
constexpr Point kBall{69, 40};
constexpr double kBallRadius = 11;
constexpr double kBallClearance = 4;  // transparent ring that lifts the ball off the wall
constexpr Point kTrailStart{62, 50};
constexpr Point kTrailEnd{32, 82};
constexpr double kPaddleTop = 84;
constexpr double kPaddleBottom = 94;
constexpr double kPaddleLeft = 14;
constexpr double kPaddleRight = 88;

// Shards of the broken brick, flying up and out from where it was.
constexpr Point kShardA[3] = {{84, 52}, {96, 54}, {88, 62}};
constexpr Point kShardB[3] = {{76, 60}, {84, 64}, {76, 70}};
constexpr Point kShardC[4] = {{90, 66}, {98, 64}, {100, 72}, {92, 74}};

// Opacity of each part: the wall is a little dimmer than the ball and the
// paddle, so the action stands out.
constexpr double kWallAlpha = 0.80;
constexpr double kShardAlpha = 0.95;
// The trail fades from the ball towards the paddle but stays above the
// game's cut-off for faint logo pixels, so that it does not end in a hard edge.
constexpr double kTrailAlpha = 0.7;
constexpr double kTrailTailAlpha = 0.16;

// The mark's opacity at one point (0..1).
double opacity(Point p) {
    double alpha = 0;
    auto cover = [&](double distance, double part_alpha) {
        if (distance < 0)
            alpha = std::max(alpha, part_alpha);
    };
    for (const Span& brick : kTopRow) {
        cover(rounded_box(p, brick.left, kRowTops[0], brick.right, kRowTops[0] + kBrickHeight,
                          kBrickRadius),
              kWallAlpha);
    }
    for (const Span& brick : kBottomRow) {
        cover(rounded_box(p, brick.left, kRowTops[1], brick.right, kRowTops[1] + kBrickHeight,
                          kBrickRadius),
              kWallAlpha);
    }
    cover(polygon(p, kShardA, 3), kShardAlpha);
    cover(polygon(p, kShardB, 3), kShardAlpha);
    cover(polygon(p, kShardC, 4), kShardAlpha);
    // The ball's clearance cuts into whatever lies behind it.
    if (disc(p, kBall, kBallRadius + kBallClearance) < 0)
        alpha = 0;
    double along = 0;
    const double trail = tapered_stroke(p, kTrailStart, kTrailEnd, 8, 1.5, along);
    if (trail < 0 && disc(p, kBall, kBallRadius + kBallClearance) >= 0) {
        const double fade = (1 - along) * (1 - along);
        alpha = std::max(alpha, kTrailTailAlpha + (kTrailAlpha - kTrailTailAlpha) * fade);
    }
    cover(disc(p, kBall, kBallRadius), 1.0);
    cover(rounded_box(p, kPaddleLeft, kPaddleTop, kPaddleRight, kPaddleBottom, 5), 1.0);
    return alpha;
}

std::vector<std::uint8_t> draw_mask() {
    std::vector<std::uint8_t> alpha(kLogoWidth * kLogoHeight, 0);
    for (int j = 0; j < kLogoHeight; ++j) {
        for (int i = 0; i < kLogoWidth; ++i) {
            double sum = 0;
            for (int sy = 0; sy < kSupersample; ++sy) {
                for (int sx = 0; sx < kSupersample; ++sx) {
                    sum += opacity({i + (sx + 0.5) / kSupersample, j + (sy + 0.5) / kSupersample});
                }
            }
            const double mean = sum / (kSupersample * kSupersample);
            alpha[j * kLogoWidth + i] = static_cast<std::uint8_t>(std::lround(mean * 255));
        }
    }
    return alpha;
}

// The mark tinted as the game tints it, over the title screen's dark blue,
// at full size and (every second pixel) at half size, magnified 4 times.
png::Image preview(const std::vector<std::uint8_t>& alpha) {
    constexpr int kZoom = 4;
    constexpr std::uint8_t kBackground[3] = {10, 14, 40};
    constexpr std::uint8_t kTint[3] = {232, 240, 255};
    png::Image image;
    image.width = (kLogoWidth + 60) * kZoom;
    image.height = kLogoHeight * kZoom;
    image.channels = 3;
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    for (std::size_t k = 0; k < image.pixels.size(); ++k)
        image.pixels[k] = kBackground[k % 3];
    auto put = [&](int x, int y, int a) {
        for (int dy = 0; dy < kZoom; ++dy) {
            for (int dx = 0; dx < kZoom; ++dx) {
                std::uint8_t* p =
                    &image.pixels[((y * kZoom + dy) * image.width + x * kZoom + dx) * 3];
                for (int c = 0; c < 3; ++c)
                    p[c] = (p[c] * (255 - a) + kTint[c] * a) / 255;
            }
        }
    };
    for (int j = 0; j < kLogoHeight; ++j) {
        for (int i = 0; i < kLogoWidth; ++i)
            put(i, j, alpha[j * kLogoWidth + i]);
    }
    for (int j = 0; j < 50; ++j) {
        for (int i = 0; i < 51; ++i)
            put(kLogoWidth + 6 + i, j, alpha[2 * j * kLogoWidth + 2 * i]);
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--preview") == 0)) {
        std::fprintf(stderr, "usage: make_logo OUTDIR [--preview FILE]\n");
        return 2;
    }
    const std::string outdir = argv[1];
    const std::vector<std::uint8_t> alpha = draw_mask();

    std::vector<std::uint8_t> bgra(kLogoBytes, 0);
    png::Image rgba;
    rgba.width = kLogoWidth;
    rgba.height = kLogoHeight;
    rgba.channels = 4;
    rgba.pixels.assign(static_cast<std::size_t>(kLogoWidth) * kLogoHeight * 4, 255);
    for (std::size_t k = 0; k < alpha.size(); ++k) {
        bgra[k * 4 + 3] = alpha[k];
        rgba.pixels[k * 4 + 3] = alpha[k];
    }
    if (!png::write((outdir + "/logo.png").c_str(), rgba))
        return 1;
    const std::string bin = outdir + "/logo.bin";
    std::FILE* file = std::fopen(bin.c_str(), "wb");
    if (file == nullptr || std::fwrite(bgra.data(), 1, bgra.size(), file) != bgra.size() ||
        std::fclose(file) != 0) {
        std::fprintf(stderr, "make_logo: cannot write %s\n", bin.c_str());
        return 1;
    }
    if (argc == 4 && !png::write(argv[3], preview(alpha)))
        return 1;
    return 0;
}
