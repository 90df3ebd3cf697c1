// Hands the newest state from one producer thread to one consumer thread without locks or
// waiting: three slots, one being written, one being read, and one in the middle holding the
// newest finished state. The producer publishes the slot it wrote by swapping it into the
// middle; the consumer fetches the middle slot by swapping its own out. A state published
// while the consumer is busy replaces the one before it, so the consumer always gets the
// newest; states that carry everything before them (running sums, smoothed traces) therefore
// lose nothing.
//
// The owner sizes the slots (forEach) before the two threads start; after that writeSlot and
// publish belong to the producer, fetch and readSlot to the consumer. Nothing allocates.
#pragma once

#include <atomic>

template <class T>
class TripleBuffer {
public:
    // Every slot, for setting them up while no other thread uses the buffer.
    template <class F>
    void forEach(F&& f) {
        for (T& slot : slots) {
            f(slot);
        }
    }

    // Producer: the slot to fill, then publish it.
    T& writeSlot() { return slots[writing]; }
    void publish() {
        writing = middle.exchange(writing | kFresh, std::memory_order_acq_rel) & kIndex;
    }

    // Consumer: takes the newest published slot if there is one since the last fetch.
    bool fetch() {
        if ((middle.load(std::memory_order_relaxed) & kFresh) == 0) {
            return false;
        }
        reading = middle.exchange(reading, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    const T& readSlot() const { return slots[reading]; }

private:
    static constexpr unsigned kIndex = 3;
    static constexpr unsigned kFresh = 4;

    T slots[3]{};
    unsigned writing = 0;            // producer's slot
    unsigned reading = 1;            // consumer's slot
    std::atomic<unsigned> middle{2}; // the slot in between, with kFresh once published
};
