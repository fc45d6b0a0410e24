#pragma once

// Marks a loop kernel to be compiled twice, for AVX2 and for the baseline instruction set, the
// processor's own choosing between them when the program loads. Both clones do the same IEEE
// operations in the same order (AVX2 brings no fused multiply-add, and contraction is off), so a
// result never depends on which one ran. Without x86-64 ifuncs, or under ThreadSanitizer, whose
// runtime is not up yet when they are resolved, there is the baseline alone.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORIL_NO_VECTOR_CLONES
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QUORIL_NO_VECTOR_CLONES
#endif

#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__)) \
    && !defined(QUORIL_NO_VECTOR_CLONES)
#define QUORIL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUORIL_VECTOR_CLONES
#endif
