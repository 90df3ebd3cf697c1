// RealFft on FFTW, single precision: one real-to-halfcomplex and one halfcomplex-to-real plan of
// the object's length, made in estimate mode (no trial runs) for out-of-place use.
//
// FFTW's planner keeps global state and is not thread-safe, while hosts may create plug-in
// instances from several threads: every plan creation and destruction goes through one
// process-wide lock. Executing a plan is thread-safe and takes no lock.
//
// The plans are made on arrays from fftwf_alloc_real. The caller's arrays are used directly when
// they have the same SIMD alignment and do not coincide; otherwise the transform runs on the
// object's own arrays with a copy in and out, so any alignment works.
#include "platform/RealFft.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

namespace platform {

namespace {

std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

class RealFft::Engine {
public:
    explicit Engine(unsigned n) : n(n) {
        const std::lock_guard<std::mutex> guard(plannerLock());
        in = fftwf_alloc_real(n);
        out = fftwf_alloc_real(n);
        if (in != nullptr && out != nullptr) {
            const int length = static_cast<int>(n);
            forwardPlan = fftwf_plan_r2r_1d(length, in, out, FFTW_R2HC, FFTW_ESTIMATE);
            backwardPlan =
                fftwf_plan_r2r_1d(length, in, out, FFTW_HC2R, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        }
        if (forwardPlan == nullptr || backwardPlan == nullptr) {
            release();
            throw std::bad_alloc();
        }
    }

    ~Engine() {
        const std::lock_guard<std::mutex> guard(plannerLock());
        release();
    }

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void run(fftwf_plan plan, const float* source, float* target) {
        // FFTW takes a non-const input pointer; both plans leave their input unchanged.
        float* const src = const_cast<float*>(source);
        if (src != target && fftwf_alignment_of(src) == fftwf_alignment_of(in) &&
            fftwf_alignment_of(target) == fftwf_alignment_of(out)) {
            fftwf_execute_r2r(plan, src, target);
            return;
        }
        std::memcpy(in, source, n * sizeof(float));
        fftwf_execute_r2r(plan, in, out);
        std::memcpy(target, out, n * sizeof(float));
    }

    fftwf_plan forwardPlan = nullptr;  // real -> halfcomplex
    fftwf_plan backwardPlan = nullptr; // halfcomplex -> real

private:
    // Called with the planner lock held.
    void release() {
        if (forwardPlan != nullptr) {
            fftwf_destroy_plan(forwardPlan);
        }
        if (backwardPlan != nullptr) {
            fftwf_destroy_plan(backwardPlan);
        }
        fftwf_free(in);
        fftwf_free(out);
        forwardPlan = backwardPlan = nullptr;
        in = out = nullptr;
    }

    unsigned n;           // transform length
    float* in = nullptr;  // planning input, used when the caller's arrays do not fit the plans
    float* out = nullptr; // planning output, likewise
};

RealFft::RealFft(unsigned length) : n(length) {
    if (n == 0) {
        throw std::invalid_argument("RealFft: length 0");
    }
    engine = std::make_unique<Engine>(n);
}

RealFft::~RealFft() = default;

void RealFft::forward(const float* in, float* out) {
    engine->run(engine->forwardPlan, in, out);
}

void RealFft::backward(const float* in, float* out) {
    engine->run(engine->backwardPlan, in, out);
}

const char* RealFft::engineName() {
    return "FFTW";
}

} // namespace platform
