// Flushes denormal results and operands to zero for the lifetime of the object and restores
// the caller's floating-point mode afterwards. Used around the audio call: recursive filters
// and decaying detectors otherwise crawl through denormals on silence.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>

class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() : saved(_mm_getcsr()) {
        _mm_setcsr(saved | kFlushToZero | kDenormalsAreZero);
    }
    ~ScopedFlushDenormals() { _mm_setcsr(saved); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    static constexpr unsigned kFlushToZero = 0x8000;      // MXCSR FTZ
    static constexpr unsigned kDenormalsAreZero = 0x0040; // MXCSR DAZ
    unsigned saved;                                       // the caller's MXCSR
};

#else

// Elsewhere the default floating-point mode is kept.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() = default;
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;
};

#endif
