#pragma once
// Reads the tones the game has queued, for tests that run without the sound
// thread: each call empties the queue and lists its tones in order as
// "freq/ms freq/ms ...".
#include <string>

#include "devices/sound_queue.h"

inline std::string take_tones() {
    std::string text;
    Tone tone;
    while (sound_queue_front(sound_queue, &tone)) {
        sound_queue_pop(sound_queue);
        if (!text.empty())
            text += ' ';
        text += std::to_string(tone.freq_hz) + "/" + std::to_string(tone.duration_ms);
    }
    return text;
}
