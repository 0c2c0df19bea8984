#pragma once
// The geometry of the playfield, shared by the balls, the shots, the
// capsules and the screens. Positions are float pixels of the 1280 x 720
// drawing area, y downward.
#include "game/world.h"

// The ball is a square of this half-size for every collision.
constexpr int kBallHalf = 5;

// The walls stand at x = 146 and x = 1134 and the ceiling at y = 76; the
// ball's centre keeps its half-size away from them.
constexpr int kWallLeft = 146;
constexpr int kWallRight = 1134;
constexpr int kCeiling = 76;
constexpr float kBallMinX = kWallLeft + kBallHalf;   // 151
constexpr float kBallMaxX = kWallRight - kBallHalf;  // 1129
constexpr float kBallMinY = kCeiling + kBallHalf;    // 81

// The paddle's top edge and height; a ball whose centre gets this low is
// lost.
constexpr int kPaddleTop = 640;
constexpr int kPaddleHeight = 16;
constexpr float kBallLostY = 760.0f;

// A stuck ball rides on the paddle's centre at this height.
constexpr float kStuckY = 633.0f;

// Bricks: column c, row r has its top-left corner at (144 + 100c, 113 + 36r)
// and is 92 x 30. Its cell adds a 4 px margin left and right and 3 px above
// and below: x from 140 + 100c, y from 110 + 36r, 100 x 36.
constexpr int kBrickLeft = 144;
constexpr int kBrickTop = 113;
constexpr int kBrickWidth = 92;
constexpr int kBrickHeight = 30;
constexpr int kGridLeft = 140;
constexpr int kGridTop = 110;
constexpr int kGridPitchX = 100;
constexpr int kGridPitchY = 36;
constexpr int kGridHeight = kGridPitchY * kGridRows;  // 288

constexpr int brick_x(int column) {
    return kBrickLeft + kGridPitchX * column;
}
constexpr int brick_y(int row) {
    return kBrickTop + kGridPitchY * row;
}

// The cell a point falls in, looked up by the point alone (the ball's size
// plays no part). False when the point is outside the grid.
struct Cell {
    int column = 0;
    int row = 0;
};
constexpr bool find_cell(float x, float y, Cell* cell) {
    float dy = y - kGridTop;
    if (!(dy >= 0.0f && dy < kGridHeight))
        return false;
    float dx = x - kGridLeft;
    // Checked before the conversion, so no position can overflow an int.
    if (!(dx >= 0.0f && dx < kGridPitchX * kGridColumns))
        return false;
    cell->column = static_cast<int>(dx / kGridPitchX);
    cell->row = static_cast<int>(dy / kGridPitchY);
    return cell->column < kGridColumns && cell->row < kGridRows;
}
