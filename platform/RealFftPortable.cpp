// RealFft on our own mixed-radix transform, for builds without FFTW.
#include "platform/RealFft.h"

#include <stdexcept>
#include <vector>

namespace platform {

class RealFft::Engine : public PortableRealFft {
public:
    explicit Engine(unsigned n) : PortableRealFft(n), halfcomplex(n) {}

    std::vector<float> halfcomplex; // spectrum in halfcomplex layout, for the complex calls
};

RealFft::RealFft(unsigned length) : n(length) {
    if (n == 0) {
        throw std::invalid_argument("RealFft: length 0");
    }
    engine = std::make_unique<Engine>(n);
}

RealFft::~RealFft() = default;

void RealFft::forward(const float* in, float* out) {
    engine->forward(in, out);
}

void RealFft::backward(const float* in, float* out) {
    engine->backward(in, out);
}

void RealFft::forwardComplex(const float* in, float* spectrum) {
    engine->forward(in, engine->halfcomplex.data());
    halfcomplexToComplex(engine->halfcomplex.data(), spectrum, n);
}

void RealFft::backwardComplex(float* spectrum, float* out) {
    complexToHalfcomplex(spectrum, engine->halfcomplex.data(), n);
    engine->backward(engine->halfcomplex.data(), out);
}

const char* RealFft::engineName() {
    return "portable";
}

} // namespace platform
