#pragma once
// Timed button presses for headless runs: a small text format, one step a
// line, read into events in time order.
//
//     # comments start with '#'; blank lines are skipped
//     TIME BUTTON [FOR]    hold BUTTON from TIME on; with FOR, let go FOR ms later
//     TIME signal TERM|INT send the game that signal, as a terminal or a desktop would
//
// TIME and FOR are milliseconds since the simulator started the game, and
// TIME never goes back from one line to the next. BUTTON is LEFT, RIGHT,
// MIDDLE, BACK, PLAY or NONE (letting go), in any case, or a ladder position
// 0 to 8. Only one button is held at a time, as on the goggles' ladder: a
// line replaces what the line before it held, and a FOR that reaches the
// next line's TIME is cut short by it. The game takes a button only after
// two equal polls 40 ms apart, so a press should be held for 100 ms or more.
#include <cstdint>
#include <string>
#include <vector>

#include "devices/button_code.h"

namespace sim {

struct ScriptEvent {
    enum class Kind { Hold, Signal };
    std::int64_t at_ms = 0;  // since the game was started
    Kind kind = Kind::Hold;
    ButtonCode button = kButtonNone;  // Hold: held from at_ms on (8: none)
    int signal_number = 0;            // Signal: SIGTERM or SIGINT
};

// Answers "" and the events in time order (equal times keep their order),
// or "line N: reason" for the first line it cannot read.
std::string parse_script(const std::string& text, std::vector<ScriptEvent>* events);

// parse_script on a file's content; the reason names the file.
std::string load_script(const std::string& path, std::vector<ScriptEvent>* events);

// A button by name or ladder position, as a script writes it; -1 if none.
int button_by_name(const std::string& word);

}  // namespace sim
