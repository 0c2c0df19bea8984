#pragma once
// The ring of tones between the main thread, which requests sounds, and the
// sound thread, which plays them. One producer and one consumer, no lock:
// each side writes only its own index, and the release/acquire pairs below
// make a slot's contents visible before its index moves.
#include <atomic>

#include "devices/tone.h"

constexpr int kSoundQueueSlots = 12;  // one slot stays free, so 11 tones fit

struct SoundQueue {
    std::atomic<int> head{0};  // the tone to play next; moved only by the consumer
    std::atomic<int> tail{0};  // where the next request goes; moved only by the producer
    Tone slots[kSoundQueueSlots];
};

// The game's one queue, process-wide because the sound thread, which is
// started with nothing but its entry function, reaches it from there.
extern SoundQueue sound_queue;

// Producer: appends a tone, or returns false and drops it when full.
inline bool sound_queue_push(SoundQueue& queue, Tone tone) {
    int tail = queue.tail.load(std::memory_order_relaxed);
    int next = (tail + 1) % kSoundQueueSlots;
    // The consumer is done with the slot at next once head has moved past it.
    if (next == queue.head.load(std::memory_order_acquire))
        return false;
    queue.slots[tail] = tone;
    queue.tail.store(next, std::memory_order_release);
    return true;
}

// Consumer: copies the tone to play next, or returns false when empty. The
// tone keeps its slot until sound_queue_pop.
inline bool sound_queue_front(SoundQueue& queue, Tone* tone) {
    int head = queue.head.load(std::memory_order_relaxed);
    if (head == queue.tail.load(std::memory_order_acquire))
        return false;
    *tone = queue.slots[head];
    return true;
}

// Consumer: frees the slot of the tone just played.
inline void sound_queue_pop(SoundQueue& queue) {
    int head = queue.head.load(std::memory_order_relaxed);
    queue.head.store((head + 1) % kSoundQueueSlots, std::memory_order_release);
}
