// RealFft on our own mixed-radix transform, for builds without FFTW.
#include "platform/RealFft.h"

#include <stdexcept>

namespace platform {

class RealFft::Engine : public PortableRealFft {
public:
    explicit Engine(unsigned n) : PortableRealFft(n) {}
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

const char* RealFft::engineName() {
    return "portable";
}

} // namespace platform
