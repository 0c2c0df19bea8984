#pragma once
// The buzzer through the desktop's sound device: the PWM channel's changes
// become a square wave, played a little behind the game so that every
// change lands on its own sample. The device pulls samples on its own
// thread; the game only notes changes and never waits for the device.
#include <cstdint>
#include <memory>
#include <string>

#include "sim/buzzer_wave.h"

namespace sim {

class Speaker {
  public:
    Speaker() = default;
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;
    ~Speaker();

    // Opens the sound device; "" or SDL's reason.
    std::string open();
    // The wave the game's buzzer changes go to (after open()).
    BuzzerWave* wave() { return wave_.get(); }
    // Starts pulling samples.
    void play();

  private:
    static void pull(void* self, std::uint8_t* stream, int bytes);

    unsigned device_ = 0;
    int sample_rate_ = 0;
    std::unique_ptr<BuzzerWave> wave_;
};

}  // namespace sim
