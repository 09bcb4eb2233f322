// Marks a stretch of code whose every function is compiled for AVX-512 (F, BW,
// VL, DQ), for code that is called only where the processor has it:
//
//   LUMIVEX_AVX512_BEGIN
//   ... functions using AVX-512 intrinsics ...
//   LUMIVEX_AVX512_END
//
// GCC takes a target pragma; Clang ignores that one and takes the same target
// as an attribute applied to every function in between.
#pragma once

#if defined(__clang__)
#define LUMIVEX_AVX512_BEGIN                                                                                      \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vl,avx512dq\"))), apply_to = function)")
#define LUMIVEX_AVX512_END _Pragma("clang attribute pop")
#else
#define LUMIVEX_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vl,avx512dq\")")
#define LUMIVEX_AVX512_END _Pragma("GCC pop_options")
#endif
