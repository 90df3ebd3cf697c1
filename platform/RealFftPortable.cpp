// RealFft on our own mixed-radix transform, for builds without FFTW (on OddPairRealFft for the
// lengths that one handles).
#include "platform/RealFft.h"

#include <stdexcept>
#include <vector>

namespace platform {

class RealFft::Engine : public PortableRealFft {
public:
    explicit Engine(unsigned n) : PortableRealFft(n), halfcomplex(n) {
        if (OddPairRealFft::handles(n)) {
            oddPair = std::make_unique<OddPairRealFft>(n);
            halfcomplex.resize(2 * (n / 2 + 1));
        }
    }

    std::vector<float> halfcomplex;          // a spectrum between layouts: halfcomplex layout for
                                             // the complex calls, complex for the others
    std::unique_ptr<OddPairRealFft> oddPair; // the faster transform, for the lengths it handles
};

RealFft::RealFft(unsigned length) : n(length) {
    if (n == 0) {
        throw std::invalid_argument("RealFft: length 0");
    }
    engine = std::make_unique<Engine>(n);
}

RealFft::~RealFft() = default;

void RealFft::forward(const float* in, float* out) {
    if (engine->oddPair) {
        engine->oddPair->forwardComplex(in, engine->halfcomplex.data());
        complexToHalfcomplex(engine->halfcomplex.data(), out, n);
        return;
    }
    engine->forward(in, out);
}

void RealFft::backward(const float* in, float* out) {
    if (engine->oddPair) {
        halfcomplexToComplex(in, engine->halfcomplex.data(), n);
        engine->oddPair->backwardComplex(engine->halfcomplex.data(), out);
        return;
    }
    engine->backward(in, out);
}

void RealFft::forwardComplex(const float* in, float* spectrum) {
    if (engine->oddPair) {
        engine->oddPair->forwardComplex(in, spectrum);
        return;
    }
    engine->forward(in, engine->halfcomplex.data());
    halfcomplexToComplex(engine->halfcomplex.data(), spectrum, n);
}

void RealFft::backwardComplex(float* spectrum, float* out) {
    if (engine->oddPair) {
        engine->oddPair->backwardComplex(spectrum, out);
        return;
    }
    complexToHalfcomplex(spectrum, engine->halfcomplex.data(), n);
    engine->backward(engine->halfcomplex.data(), out);
}

const char* RealFft::engineName() {
    return "portable";
}

} // namespace platform
