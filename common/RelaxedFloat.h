// A 32-bit float that one thread writes whole while another reads it, as the parameter values
// are: no ordering with other memory is implied, only that a read sees some written value.
#pragma once

#include <atomic>

class RelaxedFloat {
public:
    RelaxedFloat(float initial = 0.0f) : value(initial) {}
    RelaxedFloat(const RelaxedFloat&) = delete;
    RelaxedFloat& operator=(const RelaxedFloat&) = delete;

    operator float() const { return value.load(std::memory_order_relaxed); }
    RelaxedFloat& operator=(float newValue) {
        value.store(newValue, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<float> value;
    static_assert(std::atomic<float>::is_always_lock_free);
};
