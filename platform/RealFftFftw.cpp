// RealFft on FFTW, single precision: one real-to-complex and one complex-to-real plan of the
// object's length, made in estimate mode (no trial runs, so the same plan and the same results
// every time) for out-of-place use. FFTW computes in the complex layout, which the complex-layout
// calls use as is; the halfcomplex calls reorder on the way in or out.
//
// Lengths OddPairRealFft handles (1222 = 2 * 13 * 47 among them) run on it instead: there it is
// about three times as fast, and FFTW's plans for them (Bluestein's algorithm or buffered
// generic transforms for the factor 47) obtain memory on every execution, which the audio thread
// must not do.
//
// FFTW's planner keeps global state and is not thread-safe, while hosts may create plug-in
// instances from several threads: every plan creation and destruction goes through one
// process-wide lock. Executing a plan is thread-safe and takes no lock.
//
// The plans are made on arrays from fftwf_alloc_real. The caller's arrays are used directly when
// they have the same SIMD alignment; otherwise the transform runs on the object's own arrays
// with a copy in or out, so any alignment works.
#include "platform/RealFft.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {

std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

class RealFft::Engine {
public:
    explicit Engine(unsigned n) : n(n), pairs(n / 2 + 1) {
        if (OddPairRealFft::handles(n)) {
            oddPair = std::make_unique<OddPairRealFft>(n);
            spectrum.resize(2 * pairs);
            return;
        }
        const std::lock_guard<std::mutex> guard(plannerLock());
        real = fftwf_alloc_real(n);
        complex = fftwf_alloc_complex(pairs);
        if (real != nullptr && complex != nullptr) {
            const int length = static_cast<int>(n);
            forwardPlan = fftwf_plan_dft_r2c_1d(length, real, complex, FFTW_ESTIMATE);
            backwardPlan = fftwf_plan_dft_c2r_1d(length, complex, real, FFTW_ESTIMATE);
        }
        if (forwardPlan == nullptr || backwardPlan == nullptr) {
            release();
            throw std::bad_alloc();
        }
    }

    ~Engine() {
        if (!oddPair) {
            const std::lock_guard<std::mutex> guard(plannerLock());
            release();
        }
    }

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    float* complexData() { return reinterpret_cast<float*>(complex); }

    // Real `source` (n floats) to the complex layout in `target` (2 * pairs floats).
    void forward(const float* source, float* target) {
        // FFTW takes a non-const input pointer; the real-to-complex plan leaves it unchanged.
        float* src = const_cast<float*>(source);
        if (fftwf_alignment_of(src) != fftwf_alignment_of(real)) {
            std::memcpy(real, source, n * sizeof(float));
            src = real;
        }
        if (fftwf_alignment_of(target) == fftwf_alignment_of(complexData())) {
            fftwf_execute_dft_r2c(forwardPlan, src, reinterpret_cast<fftwf_complex*>(target));
            return;
        }
        fftwf_execute_dft_r2c(forwardPlan, src, complex);
        std::memcpy(target, complex, pairs * sizeof(fftwf_complex));
    }

    // Complex layout in `source` (2 * pairs floats, overwritten) to real `target` (n floats).
    void backward(float* source, float* target) {
        // The imaginary parts FFTW does not read for a Hermitian spectrum are defined as 0.
        source[1] = 0.0f;
        if (n % 2 == 0) {
            source[n + 1] = 0.0f;
        }
        fftwf_complex* src = reinterpret_cast<fftwf_complex*>(source);
        if (fftwf_alignment_of(source) != fftwf_alignment_of(complexData())) {
            std::memcpy(complex, source, pairs * sizeof(fftwf_complex));
            src = complex;
        }
        if (fftwf_alignment_of(target) == fftwf_alignment_of(real)) {
            fftwf_execute_dft_c2r(backwardPlan, src, target);
            return;
        }
        fftwf_execute_dft_c2r(backwardPlan, src, real);
        std::memcpy(target, real, n * sizeof(float));
    }

    unsigned n;                       // transform length
    unsigned pairs;                   // complex values in the spectrum: n/2 + 1
    float* real = nullptr;            // planning input, and real data of misaligned calls
    fftwf_complex* complex = nullptr; // planning output; spectra of halfcomplex or misaligned calls

    fftwf_plan forwardPlan = nullptr;        // real -> complex layout
    fftwf_plan backwardPlan = nullptr;       // complex layout -> real (overwrites its input)
    std::unique_ptr<OddPairRealFft> oddPair; // instead of the plans, for the lengths it handles
    std::vector<float> spectrum;             // its spectrum for the halfcomplex calls

private:
    // Called with the planner lock held.
    void release() {
        if (forwardPlan != nullptr) {
            fftwf_destroy_plan(forwardPlan);
        }
        if (backwardPlan != nullptr) {
            fftwf_destroy_plan(backwardPlan);
        }
        fftwf_free(real);
        fftwf_free(complex);
        forwardPlan = backwardPlan = nullptr;
        real = nullptr;
        complex = nullptr;
    }
};

RealFft::RealFft(unsigned length) : n(length) {
    if (n == 0) {
        throw std::invalid_argument("RealFft: length 0");
    }
    engine = std::make_unique<Engine>(n);
}

RealFft::~RealFft() = default;

void RealFft::forward(const float* in, float* out) {
    float* const spectrum = engine->oddPair ? engine->spectrum.data() : engine->complexData();
    forwardComplex(in, spectrum);
    complexToHalfcomplex(spectrum, out, n);
}

void RealFft::backward(const float* in, float* out) {
    float* const spectrum = engine->oddPair ? engine->spectrum.data() : engine->complexData();
    halfcomplexToComplex(in, spectrum, n);
    backwardComplex(spectrum, out);
}

void RealFft::forwardComplex(const float* in, float* spectrum) {
    if (engine->oddPair) {
        engine->oddPair->forwardComplex(in, spectrum);
        return;
    }
    engine->forward(in, spectrum);
}

void RealFft::backwardComplex(float* spectrum, float* out) {
    if (engine->oddPair) {
        engine->oddPair->backwardComplex(spectrum, out);
        return;
    }
    engine->backward(spectrum, out);
}

const char* RealFft::engineName() {
    return "FFTW";
}

} // namespace platform
