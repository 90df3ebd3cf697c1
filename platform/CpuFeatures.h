// What the processor (and the operating system, for the wider registers) can run: the run-time
// choice between vector kernels. False wherever the query does not exist (non-x86 targets,
// compilers without GCC's built-ins), so callers fall back to their baseline kernels.
#pragma once

namespace platform {

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// __builtin_cpu_init is harmless when done already and needed when called during static
// initialisation.
inline bool cpuHasAvx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}
inline bool cpuHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}
inline bool cpuHasAvx2Fma() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#else
inline bool cpuHasAvx() {
    return false;
}
inline bool cpuHasAvx512() {
    return false;
}
inline bool cpuHasAvx2Fma() {
    return false;
}
#endif

} // namespace platform
