#pragma once
// The requests of game operations under test: every operation of a file's
// tests appends to the one outbox below, and take_tones() lists the tones it
// holds in order as "freq/ms freq/ms ..." and empties it.
#include <cstdint>
#include <string>

#include "game/outbox.h"

inline Outbox outbox;

// The time the operations under test run at.
constexpr std::int64_t kNowMs = 10000;

// Every request in order, a save as "save N"; empties the outbox.
inline std::string take_requests(bool with_saves = true) {
    std::string text;
    for (int i = 0; i < outbox.count; ++i) {
        const Request& request = outbox.requests[i];
        if (request.kind == Request::Kind::SaveBest && !with_saves)
            continue;
        if (!text.empty())
            text += ' ';
        if (request.kind == Request::Kind::SaveBest) {
            text += "save " + std::to_string(request.best);
        } else {
            text += std::to_string(request.tone.freq_hz) + "/" +
                    std::to_string(request.tone.duration_ms);
        }
    }
    outbox.count = 0;
    return text;
}

inline std::string take_tones() {
    return take_requests(false);
}
