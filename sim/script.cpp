#include "sim/script.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <fstream>
#include <sstream>

#include "sim/options.h"

namespace sim {
namespace {

struct ButtonName {
    const char* name;
    ButtonCode code;
};
constexpr ButtonName kButtonNames[] = {
    {"LEFT", kButtonLeft}, {"RIGHT", kButtonRight}, {"MIDDLE", kButtonMiddle},
    {"BACK", kButtonBack}, {"PLAY", kButtonPlay},   {"NONE", kButtonNone},
};

std::string upper(std::string word) {
    for (char& c : word)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

bool read_ms(const std::string& word, std::int64_t* out) {
    std::vector<std::int64_t> list;
    if (word.find(',') != std::string::npos || !parse_ms_list(word.c_str(), &list))
        return false;
    *out = list[0];
    return true;
}

std::string at_line(int number, const std::string& reason) {
    return "line " + std::to_string(number) + ": " + reason;
}

// A line of the script: its event, and when a hold with FOR ends.
struct ScriptLine {
    ScriptEvent event;
    std::int64_t release_ms = -1;  // -1: held until the next line
};

// "signal TERM|INT"'s name; 0 for none of them.
int signal_by_name(const std::string& word) {
    const std::string name = upper(word);
    if (name == "TERM" || name == "SIGTERM")
        return SIGTERM;
    if (name == "INT" || name == "SIGINT")
        return SIGINT;
    return 0;
}

// A line's words, at least one, after a line at not_before_ms; "" or why
// the line cannot be read.
std::string read_line(const std::vector<std::string>& words, std::int64_t not_before_ms,
                      ScriptLine* line) {
    if (!read_ms(words[0], &line->event.at_ms))
        return "'" + words[0] + "' is not a time in milliseconds";
    if (line->event.at_ms < not_before_ms)
        return "the time goes back";
    if (words.size() < 2)
        return "a button or 'signal' must follow the time";
    if (upper(words[1]) == "SIGNAL") {
        if (words.size() != 3)
            return "'signal' wants TERM or INT";
        line->event.kind = ScriptEvent::Kind::Signal;
        line->event.signal_number = signal_by_name(words[2]);
        if (line->event.signal_number == 0)
            return "'signal' wants TERM or INT, not '" + words[2] + "'";
        return "";
    }
    const int button = button_by_name(words[1]);
    if (button < 0)
        return "unknown button '" + words[1] + "'";
    line->event.button = button;
    if (words.size() > 3)
        return "too many words";
    if (words.size() == 3) {
        std::int64_t hold_ms = 0;
        if (!read_ms(words[2], &hold_ms) || hold_ms == 0)
            return "'" + words[2] + "' is not a duration in milliseconds";
        line->release_ms = line->event.at_ms + hold_ms;
    }
    return "";
}

// The lines' events with the releases their FORs ask for, in time order. A
// release is left out when the next button line comes before it.
std::vector<ScriptEvent> timed_events(const std::vector<ScriptLine>& lines) {
    std::vector<ScriptEvent> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.push_back(lines[i].event);
        if (lines[i].release_ms < 0)
            continue;
        bool taken_over = false;
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            if (lines[j].event.at_ms > lines[i].release_ms)
                break;
            if (lines[j].event.kind == ScriptEvent::Kind::Hold)
                taken_over = true;
        }
        if (taken_over)
            continue;
        ScriptEvent release;
        release.at_ms = lines[i].release_ms;
        out.push_back(release);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const ScriptEvent& a, const ScriptEvent& b) { return a.at_ms < b.at_ms; });
    return out;
}

}  // namespace

int button_by_name(const std::string& word) {
    const std::string name = upper(word);
    for (const ButtonName& button : kButtonNames) {
        if (name == button.name)
            return button.code;
    }
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '8')
        return name[0] - '0';
    return -1;
}

std::string parse_script(const std::string& text, std::vector<ScriptEvent>* events) {
    std::vector<ScriptLine> lines;
    std::istringstream in(text);
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        raw = raw.substr(0, raw.find('#'));
        std::istringstream fields(raw);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        if (words.empty())
            continue;
        ScriptLine line;
        const std::string reason =
            read_line(words, lines.empty() ? 0 : lines.back().event.at_ms, &line);
        if (!reason.empty())
            return at_line(number, reason);
        lines.push_back(line);
    }
    *events = timed_events(lines);
    return "";
}

std::string load_script(const std::string& path, std::vector<ScriptEvent>* events) {
    std::ifstream file(path);
    if (!file)
        return "cannot read the script " + path;
    std::stringstream text;
    text << file.rdbuf();
    std::string reason = parse_script(text.str(), events);
    return reason.empty() ? reason : path + ": " + reason;
}

}  // namespace sim
