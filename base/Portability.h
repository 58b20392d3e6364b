#pragma once

// The few compiler-specific spellings the code needs, gathered here so everything else is plain
// C++. GCC and Clang are the compilers we build with (MinGW for the Windows drive layer).

#if defined(__GNUC__) || defined(__clang__)
// A symbol a shared library offers to its host.
#define DRAVIX_EXPORTED __attribute__((visibility("default")))
// A declaration that may stay without definition.
#define DRAVIX_WEAK __attribute__((weak))
#else
#error "a GCC-compatible compiler is needed"
#endif

namespace dravix {

// a * b into result; true when the product does not fit (result is then unspecified).
template <typename T>
constexpr bool MultiplyOverflows(T a, T b, T* result) {
    return __builtin_mul_overflow(a, b, result);
}

}  // namespace dravix
