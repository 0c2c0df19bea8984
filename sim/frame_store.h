#pragma once
// The picture on the goggles' display, handed from the game to whoever shows
// or saves it: the game's thread publishes a copy of the drawing area of
// every page it pans to, made in a spare buffer; the viewer takes the
// newest one. Three buffers, so neither side ever waits for the other's copy.
//
// The buffers change hands through one atomic word (state_word): its two
// low bits name the buffer published last, kFresh says the viewer has not
// taken it yet, kAny that anything has been published at all. publish()
// swaps the buffer it just filled into the word and fills the one it gets
// back next time; take() swaps the buffer it showed for the published one when
// kFresh is set. A viewer in another language (the web page) follows the
// same two rules with its own atomics on the word, starting from buffer 2.
//
// A picture costs what changed in it. The producer is told where each
// picture differs from the one published before it, and converts into the
// spare buffer only where that buffer is behind. Each published buffer
// carries its changes (changes()): where its picture differs from the
// picture the viewer took before it, over all the pictures the viewer
// skipped, so a viewer that keeps its own copy redraws only those.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "display/damage.h"
#include "display/rect.h"

namespace sim {

constexpr int kAreaPixels = kAreaWidth * kAreaHeight;

// How a published picture lies in memory.
enum class PixelOrder {
    Argb,  // 0xAARRGGBB words, as the framebuffer holds them
    Rgba,  // bytes R, G, B, 255, as a browser canvas takes them
};

// Where a buffer's picture differs from the picture the viewer took before
// it: count rectangles of the drawing area, each left, top, right, bottom.
// Plain 32-bit words, so that a viewer in another language reads them too.
struct FrameChanges {
    static constexpr int kCapacity = Damage::kCapacity;
    std::int32_t count = 0;
    std::int32_t rects[kCapacity][4] = {};
};

class FrameStore {
  public:
    static constexpr std::uint32_t kIndexMask = 3;
    static constexpr std::uint32_t kFresh = 4;
    static constexpr std::uint32_t kAny = 8;

    explicit FrameStore(PixelOrder order = PixelOrder::Argb);

    // Producer: copies the drawing area at area (0xAARRGGBB words, rows
    // row_pixels apart), converted to the store's order in the same pass,
    // and hands it over. changed: where the picture differs from the one
    // published before it; nullptr when that is not known (all of it).
    void publish(const std::uint32_t* area, std::size_t row_pixels,
                 const Damage* changed = nullptr);

    // Consumer: the newest published picture (1280 words per row, in the
    // store's order), or nullptr before the first. Valid until the next
    // take(). fresh tells whether it is new since the last take().
    const std::uint32_t* take(bool* fresh = nullptr);

    // Called on the producer's thread after every handover, with the state
    // word: a viewer that sleeps until the word changes (the web page) is
    // woken there.
    void wake_viewer_with(void (*wake)(const std::atomic<std::uint32_t>* word)) { wake_ = wake; }

    // For a viewer that follows the word's rules itself.
    const std::atomic<std::uint32_t>* state_word() const { return &state_; }
    const std::uint32_t* buffer(int index) const { return buffers_[index].data(); }
    // Where the picture in buffer index differs from the picture the viewer
    // took before it (valid once the viewer has taken it).
    const FrameChanges& changes(int index) const { return changes_[index]; }

  private:
    const PixelOrder order_;
    std::vector<std::uint32_t> buffers_[3];
    FrameChanges changes_[3];
    // The producer's own: where each buffer is behind the newest picture,
    // and where the newest differs from the picture the viewer took last.
    Damage behind_[3];
    Damage unseen_;
    std::atomic<std::uint32_t> state_{1};  // buffer 1 is "published", though empty
    int filling_ = 0;                      // the producer's own
    void (*wake_)(const std::atomic<std::uint32_t>*) = nullptr;
    int showing_ = 2;  // the consumer's own
};

}  // namespace sim
