#include "sim/speaker.h"

#include <SDL.h>

#include "emulator/host_clock.h"

namespace sim {
namespace {

constexpr int kWantedRate = 48000;
constexpr int kBufferSamples = 512;  // about 11 ms

}  // namespace

Speaker::~Speaker() {
    if (device_ != 0)
        SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::string Speaker::open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return SDL_GetError();
    SDL_AudioSpec want = {};
    want.freq = kWantedRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = kBufferSamples;
    want.callback = pull;
    want.userdata = this;
    SDL_AudioSpec have = {};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device_ == 0)
        return SDL_GetError();
    sample_rate_ = have.freq;
    wave_ = std::make_unique<BuzzerWave>(sample_rate_);
    return "";
}

void Speaker::play() {
    if (device_ != 0)
        SDL_PauseAudioDevice(device_, 0);
}

void Speaker::pull(void* self, std::uint8_t* stream, int bytes) {
    auto* speaker = static_cast<Speaker*>(self);
    const int count = bytes / static_cast<int>(sizeof(std::int16_t));
    speaker->wave_->render_next(reinterpret_cast<std::int16_t*>(stream), count, emu::host_now_ns());
}

}  // namespace sim
