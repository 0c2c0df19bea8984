#include "sim/frame_store.h"

#include <utility>

#include "emulator/framebuffer_device.h"

namespace sim {

FrameStore::FrameStore() {
    for (auto& buffer : buffers_)
        buffer.assign(kAreaPixels, 0);
}

void FrameStore::publish() {
    std::lock_guard<std::mutex> hold(lock_);
    std::swap(filling_, ready_);
    ready_is_new_ = true;
    any_ = true;
    published_ += 1;
}

const std::uint32_t* FrameStore::take(bool* fresh) {
    std::lock_guard<std::mutex> hold(lock_);
    if (fresh)
        *fresh = ready_is_new_;
    if (!any_)
        return nullptr;
    if (ready_is_new_) {
        std::swap(showing_, ready_);
        ready_is_new_ = false;
    }
    return buffers_[showing_].data();
}

long FrameStore::published() const {
    std::lock_guard<std::mutex> hold(lock_);
    return published_;
}

void show_pans_in(FrameStore* store) {
    emu::fb::set_pan_hook(
        [](void* context) {
            auto* frames = static_cast<FrameStore*>(context);
            emu::fb::copy_displayed_area(frames->fill_buffer());
            frames->publish();
        },
        store);
}

}  // namespace sim
