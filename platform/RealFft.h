// Real-data discrete Fourier transforms of one fixed length n (any n >= 1), single precision.
//
// forward:  real x[0..n-1]  ->  halfcomplex X, unnormalized:
//     X_k = sum_j x_j * exp(-2*pi*i*j*k/n)
// stored as  r0, r1, ..., r(n/2), i((n+1)/2 - 1), ..., i2, i1
// that is out[k] = Re X_k for 0 <= k <= n/2 and out[n-k] = Im X_k for 0 < k < (n+1)/2 (the
// imaginary parts of X_0 and, for even n, of X_(n/2) are 0 and not stored).
// backward: halfcomplex -> real, unnormalized (the input is read as a Hermitian spectrum):
//     x_j = sum_k X_k * exp(+2*pi*i*j*k/n),   so backward(forward(x)) = n * x.
//
// Both transforms are out of place: `in` and `out` hold n floats each and must not overlap
// (they may be the same array, at the cost of a copy). Neither changes its input.
//
// RealFft also works on the spectrum in complex layout, n/2 + 1 interleaved pairs
//     re0, im0, re1, im1, ..., re(n/2), im(n/2)
// (2 * (n/2 + 1) floats; im0 and, for even n, im(n/2) are 0): forwardComplex() writes it,
// backwardComplex() reads it and takes the imaginary parts of X_0 and, for even n, of X_(n/2)
// as 0. backwardComplex() uses the spectrum array as working memory: its contents are undefined
// afterwards. This is the layout the FFTW engine computes in, so it saves a reordering pass.
//
// RealFft is the transform the signal-processing code uses. Lengths OddPairRealFft handles run
// on it (the same bits in every build); others on FFTW (single precision, estimate-mode plans)
// where the build found it, otherwise on PortableRealFft below; engineName() says which of the
// last two the build has. Constructing and destroying RealFft objects is safe from several
// threads at once (FFTW's planner is serialised behind one process-wide lock, taken only there).
// A transform call takes no lock; one object serves one thread at a time. OddPairRealFft and
// PortableRealFft allocate nothing in a transform; FFTW's plans for lengths with large prime
// factors obtain working memory on every execution (its plans for 1222 did), so audio code
// should use lengths the first two handle.
//
// PortableRealFft is our own mixed-radix transform (Cooley-Tukey over the prime factors of n,
// radix 4 and 2 butterflies, a direct DFT for any other factor), with the real transform done
// as a complex one of n/2 points for even n. It needs no external library.
//
// Constructors throw std::bad_alloc when memory (or an FFTW plan) cannot be obtained, and
// std::invalid_argument for n = 0.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace platform {

class PortableRealFft {
public:
    explicit PortableRealFft(unsigned n);
    PortableRealFft(const PortableRealFft&) = delete;
    PortableRealFft& operator=(const PortableRealFft&) = delete;

    unsigned size() const { return n; }
    void forward(const float* in, float* out);
    void backward(const float* in, float* out);

private:
    struct Complex {
        float re;
        float im;
    };
    struct Stage {
        unsigned radix; // points combined by each butterfly of this stage
        unsigned span;  // length of the sub-transforms it combines (product of later radices)
    };

    void transform(const Complex* in, Complex* out); // forward complex DFT of m points
    void work(Complex* out, const Complex* in, std::size_t stride, std::size_t stage);
    void butterfly2(Complex* out, std::size_t stride, unsigned span) const;
    void butterfly4(Complex* out, std::size_t stride, unsigned span) const;
    void butterflyGeneric(Complex* out, std::size_t stride, unsigned radix, unsigned span);

    unsigned n;                   // real transform length
    unsigned m;                   // complex transform length: n/2 for even n, else n
    std::vector<Stage> stages;    // factorisation of m, first stage first
    std::vector<Complex> twiddle; // exp(-2*pi*i*k/m), k = 0 .. m-1
    std::vector<Complex> packing; // exp(-2*pi*i*k/n), k = 0 .. m (even n only)
    std::vector<Complex> source;  // complex input of the inner transform (m points)
    std::vector<Complex> result;  // complex output of the inner transform (m points)
    std::vector<Complex> scratch; // one butterfly's inputs (largest radix)
};

// OddPairRealFft is a faster transform for the lengths n = 2 p q with odd p and q, both at most
// 64 (1222 = 2 * 13 * 47 among them): one Cooley-Tukey step over the two factors, each done as
// a direct transform in vectors. It needs no external library, allocates nothing after
// construction and gives the same bits on every machine. RealFft uses it for those lengths,
// whatever its engine. It works in the complex layout only.
class OddPairRealFft {
public:
    // Whether n has the form this transform handles.
    static bool handles(unsigned n);
    // Throws std::invalid_argument when !handles(n), std::bad_alloc without memory.
    explicit OddPairRealFft(unsigned n);
    OddPairRealFft(const OddPairRealFft&) = delete;
    OddPairRealFft& operator=(const OddPairRealFft&) = delete;

    unsigned size() const { return n; }
    // As RealFft::forwardComplex and backwardComplex; backwardComplex leaves `spectrum` as it is.
    void forwardComplex(const float* in, float* spectrum);
    void backwardComplex(const float* spectrum, float* out);
    // Runs on vectors of `floats` lanes (4, 8 or 16) if this build and processor have them;
    // returns whether it does. All give the same bits; the widest is chosen at construction.
    bool useWidth(unsigned floats);

private:
    friend struct OddPairKernels;

    unsigned n;                     // real transform length
    unsigned p;                     // smaller odd factor of m
    unsigned m = 0;                 // complex transform length, n / 2 = p q
    unsigned q = 0;                 // larger odd factor of m
    unsigned halfP = 0;             // (p - 1) / 2
    unsigned halfQ = 0;             // (q - 1) / 2
    unsigned halfQPadded = 0;       // halfQ rounded up to the padding
    unsigned row = 0;               // q rounded up to the padding: stride of the work rows
    bool mirroredLanes = false;     // padded output lanes double as mirrored ones (see tables)
    std::vector<float> cosQ;        // cos 2 pi b d / q, halfQ rows of halfQPadded
    std::vector<float> sinQ;        // sin 2 pi b d / q, likewise
    std::vector<float> cosP;        // cos 2 pi a c / p, halfP x halfP
    std::vector<float> sinP;        // sin 2 pi a c / p, likewise
    std::vector<float> twiddleRe;   // exp(-2 pi i a d / m), p rows
    std::vector<float> twiddleIm;   // likewise, imaginary parts
    std::vector<float> packRe;      // exp(-2 pi i k / n), k = 0 .. m, real parts
    std::vector<float> packIm;      // likewise, imaginary parts
    std::vector<float> rowsRe;      // q-point transforms, p rows (real parts)
    std::vector<float> rowsIm;      // likewise, imaginary parts
    std::vector<float> sumsRe;      // rows a plus p - a, halfP rows (real parts)
    std::vector<float> sumsIm;      // likewise, imaginary parts
    std::vector<float> diffsRe;     // rows a minus p - a, halfP rows (real parts)
    std::vector<float> diffsIm;     // likewise, imaginary parts
    std::vector<float> outRe;       // p-point transforms, p rows (real parts)
    std::vector<float> outIm;       // likewise, imaginary parts
    std::vector<float> lineRe;      // complex transform result in natural order (real parts)
    std::vector<float> lineIm;      // likewise, imaginary parts
    std::vector<float> packed;      // inverse: the interleaved complex input of m points
    std::vector<float> pairSums;    // inputs b plus q - b, interleaved, halfQ groups of 2 p
    std::vector<float> pairDiffs;   // inputs b minus q - b, likewise
    std::vector<float> firstColumn; // the q-point transforms' outputs d = 0, interleaved
    std::vector<float> partial;     // one q-point transform's cos and sin sums
    // The transforms in the widest vectors the processor has (the same bits with any).
    void (*forwardRun)(OddPairRealFft& self, const float* in, float* spectrum) = nullptr;
    void (*backwardRun)(OddPairRealFft& self, const float* spectrum, float* out) = nullptr;
};

// Reordering between the two spectrum layouts of length n (see above). Arrays must not overlap.
void halfcomplexToComplex(const float* halfcomplex, float* complex, unsigned n);
void complexToHalfcomplex(const float* complex, float* halfcomplex, unsigned n);

class RealFft {
public:
    explicit RealFft(unsigned n);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    unsigned size() const { return n; }
    void forward(const float* in, float* out);
    void backward(const float* in, float* out);
    // Floats in a complex-layout spectrum: 2 * (n/2 + 1).
    unsigned complexSize() const { return 2 * (n / 2 + 1); }
    // `in`: n floats; `spectrum`: complexSize() floats; they must not overlap.
    void forwardComplex(const float* in, float* spectrum);
    // `spectrum`: complexSize() floats, overwritten; `out`: n floats; they must not overlap.
    void backwardComplex(float* spectrum, float* out);

    // "FFTW" or "portable": the implementation this build runs on.
    static const char* engineName();

private:
    class Engine;
    unsigned n;                     // transform length
    std::unique_ptr<Engine> engine; // plans and buffers of the chosen implementation
};

} // namespace platform
