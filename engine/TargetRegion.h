#pragma once

// Compiles what lies between a MV_TARGET_BEGIN_... and MV_TARGET_END for that instruction set,
// through GCC's target pragma or clang's attribute push (clang has no target pragma).
#if defined(__clang__)
#define MV_TARGET_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define MV_TARGET_BEGIN_AVX512 \
  _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512vl,avx512dq,fma\"))), apply_to = function)")
#define MV_TARGET_END _Pragma("clang attribute pop")
#else
#define MV_TARGET_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define MV_TARGET_BEGIN_AVX512 _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512vl,avx512dq,fma\")")
#define MV_TARGET_END _Pragma("GCC pop_options")
#endif
