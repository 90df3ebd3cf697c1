// Elementary functions that give the same bits on every platform.
//
// The C libraries the plug-in is built against (glibc, the Windows runtimes) round their
// transcendental functions differently in the last place, and a window, twiddle factor or gain
// computed from them would make the processed audio depend on where it runs. These functions
// are evaluated with nothing but IEEE double additions, multiplications and divisions in a
// fixed order (the library is built without contraction into fused multiply-adds), so every
// SSE2 target computes the same result. They use the classic minimax polynomials and argument
// reductions of the freely distributable Sun mathematical library (fdlibm); their errors are
// below one unit in the last place of a double (about two for exp10 and log10), so the value
// rounded to single precision is almost always the correctly rounded one.
//
// Special values follow the C library: NaN in, NaN out; log10(0) = -inf, log10 of a negative
// number is NaN; exp and exp10 overflow to +inf and underflow to 0.
// Thread-safe: no state.
#pragma once

namespace portable {

// sin(x) and cos(x) for |x| <= 2^19 pi / 2 (about 823 550); larger arguments give NaN, as
// does an infinite one.
double sin(double x);
double cos(double x);

// e^x.
double exp(double x);

// 10^x, with x ln 10 carried in twice the precision of a double.
double exp10(double x);

// The decimal logarithm.
double log10(double x);

} // namespace portable
