#pragma once
// The geometry of the playfield: the one place its numbers are written. The
// balls, the shots, the capsules, the screens and the automatic player all
// take theirs from here. Positions are pixels of the 1280 x 720 drawing
// area, y downward (floats in the simulation).
// The brick grid: this many columns and rows of cells.
constexpr int kGridColumns = 10;
constexpr int kGridRows = 8;

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

// The frame drawn around the field: bars this thick outside the walls and
// the ceiling, down to this line.
constexpr int kFrameThickness = 6;
constexpr int kFrameBottom = 690;

// The paddle's top edge and height; a ball whose centre gets this low is
// lost.
constexpr int kPaddleTop = 640;
constexpr int kPaddleHeight = 16;
constexpr float kBallLostY = 760.0f;
// Every run starts with the paddle in the middle, narrow; the E capsule
// widens it while its time runs.
constexpr float kPaddleStartX = 640.0f;
constexpr int kPaddleNarrow = 110;
constexpr int kPaddleWide = 170;

// A stuck ball rides on the paddle's centre at this height.
constexpr float kStuckY = 633.0f;

// The paddle catches a falling ball whose centre is in this band (from the
// paddle's top less the ball's half-size to the paddle's bottom) and sends
// it back from just above it.
constexpr float kPaddleBandTop = kPaddleTop - kBallHalf;         // 635
constexpr float kPaddleBandBottom = kPaddleTop + kPaddleHeight;  // 656
constexpr float kPaddleBounceY = 634.0f;

// Shots start at this height, this far in from the paddle's ends.
constexpr float kShotStartY = 632.0f;
constexpr int kShotInset = 6;

// A capsule is a 46 x 20 tile around its centre. The paddle catches one
// whose centre is in this band and within its half-width of either end;
// one that falls below kMissedY is gone.
constexpr int kCapsuleHalfWidth = 23;
constexpr int kCapsuleHalfHeight = 10;
constexpr float kCatchTop = 630.0f;
constexpr float kCatchBottom = 664.0f;
constexpr int kCatchReach = kCapsuleHalfWidth;
constexpr float kMissedY = 750.0f;

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

// A released capsule starts at its brick's centre x, 3 px above its centre.
constexpr float capsule_start_x(int column) {
    return static_cast<float>(brick_x(column) + kBrickWidth / 2);
}
constexpr float capsule_start_y(int row) {
    return static_cast<float>(brick_y(row) + kBrickHeight / 2 - 3);
}
static_assert(capsule_start_x(0) == 190.0f && capsule_start_y(0) == 125.0f);

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
