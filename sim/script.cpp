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
    struct Line {
        ScriptEvent event;
        std::int64_t release_ms;  // -1: held until the next line
    };
    std::vector<Line> lines;
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

        Line line = {};
        line.release_ms = -1;
        if (!read_ms(words[0], &line.event.at_ms)) {
            return at_line(number, "'" + words[0] + "' is not a time in milliseconds");
        }
        if (!lines.empty() && line.event.at_ms < lines.back().event.at_ms) {
            return at_line(number, "the time goes back");
        }
        if (words.size() < 2)
            return at_line(number, "a button or 'signal' must follow the time");
        if (upper(words[1]) == "SIGNAL") {
            if (words.size() != 3)
                return at_line(number, "'signal' wants TERM or INT");
            const std::string name = upper(words[2]);
            line.event.kind = ScriptEvent::Kind::Signal;
            if (name == "TERM" || name == "SIGTERM") {
                line.event.signal_number = SIGTERM;
            } else if (name == "INT" || name == "SIGINT") {
                line.event.signal_number = SIGINT;
            } else {
                return at_line(number, "'signal' wants TERM or INT, not '" + words[2] + "'");
            }
        } else {
            int button = button_by_name(words[1]);
            if (button < 0)
                return at_line(number, "unknown button '" + words[1] + "'");
            line.event.button = button;
            if (words.size() > 3)
                return at_line(number, "too many words");
            if (words.size() == 3) {
                std::int64_t hold_ms = 0;
                if (!read_ms(words[2], &hold_ms) || hold_ms == 0) {
                    return at_line(number, "'" + words[2] + "' is not a duration in milliseconds");
                }
                line.release_ms = line.event.at_ms + hold_ms;
            }
        }
        lines.push_back(line);
    }

    std::vector<ScriptEvent> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.push_back(lines[i].event);
        if (lines[i].release_ms < 0)
            continue;
        // The next button line takes over if it comes before the release.
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
    *events = out;
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
