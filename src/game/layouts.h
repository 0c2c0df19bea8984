#pragma once
// The brick layouts, built from assets/levels.txt: 80 cells each, row by
// row from the top, '.' for an empty cell.
constexpr int kLayoutCount = 4;
constexpr int kLayoutCells = 80;

extern const char level_layouts[kLayoutCount][kLayoutCells + 1];
