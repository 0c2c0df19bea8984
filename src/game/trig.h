#pragma once

// The game's own sine, cosine and arc tangent in single precision. Each
// returns the exact result rounded to the nearest float (ties to even), so
// a ball leaves a bounce at the same angle on the goggles, the desktop and
// the web page: the C library's sinf, cosf and atan2f promise no such thing
// and differ between builds. Built from +, -, *, / and square roots alone.
// Infinities, NaNs and signed zeros give what the C library's functions
// give.

float sin_rounded(float x);
float cos_rounded(float x);
// The angle of the point (x, y) from the positive x axis, in [-pi, pi].
float atan2_rounded(float y, float x);
