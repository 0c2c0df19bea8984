// Writes contract.js: every number the page's JavaScript shares with the
// game, taken from the game's own headers, so that the page never keeps a
// copy of its own. An ES module: the page's modules and the worker import
// it, and the tests read it too. Usage: make_contract FILE
#include <cstdio>

#include "devices/button_code.h"
#include "display/rect.h"
#include "game/playfield.h"
#include "game/world.h"
#include "sim/input_arbiter.h"
#include "sim/keys.h"
#include "web/contract.h"

namespace {

struct Named {
    const char* name;
    long value;
};

template <int N>
void group(std::FILE* out, const char* name, const Named (&members)[N]) {
    std::fprintf(out, "  %s: Object.freeze({", name);
    for (int i = 0; i < N; ++i)
        std::fprintf(out, "%s %s: %ld", i == 0 ? "" : ",", members[i].name, members[i].value);
    std::fprintf(out, " }),\n");
}

using sim::InputSource;

constexpr Named kButtons[] = {
    {"middle", kButtonMiddle}, {"left", kButtonLeft}, {"right", kButtonRight},
    {"play", kButtonPlay},     {"back", kButtonBack}, {"none", kButtonNone},
};
constexpr Named kSources[] = {
    {"keys", static_cast<long>(InputSource::Keys)},
    {"touch", static_cast<long>(InputSource::Touch)},
    {"pointer", static_cast<long>(InputSource::Pointer)},
    {"gamepad", static_cast<long>(InputSource::Gamepad)},
};
constexpr Named kAreaSize[] = {{"width", kAreaWidth}, {"height", kAreaHeight}};
constexpr Named kWalls[] = {{"left", kWallLeft}, {"right", kWallRight}};
constexpr Named kPhases[] = {
    {"title", static_cast<long>(Phase::Title)},
    {"serve", static_cast<long>(Phase::Serve)},
    {"play", static_cast<long>(Phase::Play)},
    {"levelClear", static_cast<long>(Phase::LevelClear)},
    {"gameOver", static_cast<long>(Phase::GameOver)},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_contract FILE\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "make_contract: cannot write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// What the page and the game agree on, written from the game's headers\n"
                 "// when the page is built (web/make_contract.cpp). Not to be edited.\n"
                 "export const CONTRACT = Object.freeze({\n");
    // The goggles' button codes the page sends, and where a press comes from.
    group(out, "buttons", kButtons);
    group(out, "sources", kSources);
    // The drawing area, and the playfield's walls within it.
    group(out, "area", kAreaSize);
    group(out, "walls", kWalls);
    group(out, "phases", kPhases);
    // The keyboard: each key by its KeyboardEvent.code, the number that names
    // it to the game within the keys' source, and its button (a code of
    // buttons above) or 'fullscreen'.
    std::fprintf(out, "  keys: Object.freeze([\n");
    for (const sim::KeyBinding& key : sim::kKeyBindings) {
        std::fprintf(out, "    Object.freeze({ code: '%s', key: %d, button: ", key.code, key.usage);
        if (key.button == sim::kFullScreenKey)
            std::fprintf(out, "'fullscreen' }),\n");
        else
            std::fprintf(out, "%d }),\n", key.button);
    }
    std::fprintf(out, "  ]),\n");
    // The glance's fields, in the order the worker reads its doubles.
    std::fprintf(out, "  glance: Object.freeze([\n");
    for (const web::GlanceField& field : web::kGlanceFields)
        std::fprintf(out, "    Object.freeze({ name: '%s', flag: %s }),\n", field.name,
                     field.flag ? "true" : "false");
    std::fprintf(out, "  ]),\n});\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
