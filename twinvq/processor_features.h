// What the processor offers, for the code paths chosen once when a program or library loads.
#pragma once

namespace twinvq {

// AVX2, on x86 builds whose float arithmetic is SSE (x86-64, and the 32-bit build compiled
// for SSE2); elsewhere false, and the plain paths run.
inline bool ProcessorHasAvx2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__SSE2_MATH__))
  __builtin_cpu_init();  // this may run before the runtime's own constructor has
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace twinvq
