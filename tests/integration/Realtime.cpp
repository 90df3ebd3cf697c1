// What the audio call must never do, checked through the built plug-in: allocate memory, leave
// the caller's floating-point mode changed, or compute with denormals.
//
// This program replaces the global allocation functions and, with glibc and without
// AddressSanitizer (which has its own), the C allocation functions too (exported, so the
// plug-in's calls and those of the libraries it uses reach them), and counts the allocations
// made while processReplacing runs.
#include "analyzer/SpectrumAnalyzer.h"
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void countAllocation() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

void* allocate(std::size_t size) {
    countAllocation();
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VELTRANO_COUNT_C_ALLOCATIONS 1
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) {
    countAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    countAllocation();
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    countAllocation();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return 12; // ENOMEM
    }
    *out = p;
    return 0;
}
void free(void* p) {
    __libc_free(p);
}
}
#endif

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

class Realtime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.error().empty()) << host.error();
        ASSERT_NE(host.open(), nullptr);
    }

    // Every switch on and some settings away from their defaults.
    void everythingOn() {
        for (VstInt32 index = 20; index < 30; ++index) {
            host.setParameter(index, 1.0f);
        }
        host.setParameter(3, 0.3f);
        host.setParameter(33, 0.5f);
    }

    VstHost host{VELTRANO_PLUGIN_PATH};
};

#if defined(VELTRANO_COUNT_C_ALLOCATIONS)
TEST(AllocationCounting, SeesCAllocations) {
    allocations = 0;
    counting = true;
    void* volatile p = std::malloc(100);
    void* q = nullptr;
    const int status = posix_memalign(&q, 64, 100);
    counting = false;
    std::free(p);
    std::free(q);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(allocations.load(), 2);
}
#endif

TEST_F(Realtime, ProcessingAllocatesNothing) {
    for (float rate : {44100.0f, 48000.0f, 8000.0f, 11025.0f, 96000.0f, 12345.0f}) {
        host.setSampleRate(rate);
        everythingOn();
        std::mt19937 random(3);
        std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
        std::vector<float> left(30000);
        std::vector<float> right(30000);
        for (std::size_t n = 0; n < left.size(); ++n) {
            left[n] = noise(random);
            right[n] = noise(random);
        }
        std::vector<float> outLeft(left.size());
        std::vector<float> outRight(left.size());
        allocations = 0;
        counting = true;
        for (std::size_t pos = 0; pos + 1000 <= left.size(); pos += 1000) {
            float* in[2] = {left.data() + pos, right.data() + pos};
            float* out[2] = {outLeft.data() + pos, outRight.data() + pos};
            host.processReplacing(in, out, 1000);
            host.setParameter(static_cast<VstInt32>(pos / 1000 % 20), 0.5f); // as automation does
        }
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << "rate " << rate;
    }
}

TEST(RealtimeSpectrum, FeedAllocatesNothing) {
    // As the editor configures the spectrum display, both traces fed block after block.
    SpectrumAnalyzer view({231, 66, 568, 181});
    view.setBarCount(1024);
    view.averaging = 4;
    view.lineGraph = true;
    view.displayMode = 2;
    std::mt19937 random(4);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> in(2048);
    for (float& x : in) {
        x = noise(random);
    }
    view.feed(2048, in.data(), in.data()); // any first-use work of the transform
    allocations = 0;
    counting = true;
    for (int block = 0; block < 20; ++block) {
        view.feed(2048, in.data(), in.data());
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}

#if defined(__SSE__)
TEST_F(Realtime, CallersFloatingPointModeIsRestored) {
    host.setSampleRate(44100.0f);
    everythingOn();
    std::vector<float> buffer(20000, 0.25f);
    float* io[2] = {buffer.data(), buffer.data()};
    const unsigned before = _mm_getcsr();
    const unsigned custom = (before & ~0x8040u) | 0x6000u; // round toward zero, no FTZ/DAZ
    _mm_setcsr(custom);
    host.processReplacing(io, io, 20000);
    const unsigned after = _mm_getcsr();
    _mm_setcsr(before);
    EXPECT_EQ(after & ~0x3fu, custom & ~0x3fu); // exception flags aside
}

TEST_F(Realtime, DenormalsAreFlushedInsideTheAudioCall) {
    host.setSampleRate(44100.0f);
    const float tiny = std::numeric_limits<float>::denorm_min() * 1000.0f;
    std::vector<float> in(40000, tiny);
    std::vector<float> out(in.size(), 1.0f);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {out.data(), out.data()};
    const unsigned before = _mm_getcsr();
    _mm_setcsr(before & ~0x8040u); // the host computes with denormals
    host.processReplacing(ins, outs, static_cast<VstInt32>(in.size()));
    _mm_setcsr(before);
    for (std::size_t n = 0; n < out.size(); ++n) {
        ASSERT_EQ(out[n], 0.0f) << "frame " << n; // denormal input reads as zero inside
    }
}
#endif

} // namespace
