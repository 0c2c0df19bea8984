#pragma once
// Diagnostics: single lines on standard error, nothing else. Formatting goes
// through a fixed buffer so that a report never allocates.

// A formatted line (the format carries its own newline).
void diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system error report for the current errno: "prefix: <system text>\n".
void diag_error(const char* prefix);
