#pragma once
// What the game asks of the world outside during a frame: tones for the
// buzzer and the best score to store, in the order the rules made them. The
// game itself reads no clock and makes no system call; the shell carries the
// requests out right after the frame's step, before anything is drawn.
#include <cstdint>

#include "devices/tone.h"

struct Request {
    enum class Kind : std::uint8_t { Tone, SaveBest };
    Kind kind = Kind::Tone;
    Tone tone;     // Tone: what to play
    int best = 0;  // SaveBest: the best as the rule that asked saw it
};

// More tones than the sound queue can hold are dropped there anyway; the
// last slot is kept for the save, which is never dropped.
constexpr int kOutboxCapacity = 32;

struct Outbox {
    Request requests[kOutboxCapacity];
    int count = 0;
};

inline void request_tone(Outbox& outbox, const Tone& tone) {
    if (outbox.count < kOutboxCapacity - 1)
        outbox.requests[outbox.count++] = Request{Request::Kind::Tone, tone, 0};
}

template <int N>
void request_tones(Outbox& outbox, const Tone (&tones)[N]) {
    for (const Tone& tone : tones)
        request_tone(outbox, tone);
}

// A game ends once per frame at most, so one slot always has room for it.
inline void request_save(Outbox& outbox, int best) {
    if (outbox.count < kOutboxCapacity)
        outbox.requests[outbox.count++] = Request{Request::Kind::SaveBest, Tone{}, best};
}
