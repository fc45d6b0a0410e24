// CBC decryption with VAES: two blocks per AES instruction on 256-bit registers. Encryption
// gains nothing from it (each block waits for the one before), so only decryption lives here.

#include "base/aes_backends.h"
#include "base/secure_wipe.h"

#if QUORIL_AES_HARDWARE_PATH

#include <cpuid.h>
#include <immintrin.h>

#define AES_WIDE_TARGET __attribute__((target("vaes,avx2,aes,sse4.1")))

namespace aesdetail {

namespace {

// Read from CPUID directly: not every compiler's __builtin_cpu_supports knows "vaes".
bool cpuHasVaes()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    constexpr unsigned kVaesBit = 1u << 9; // leaf 7, sub-leaf 0, ECX
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ecx & kVaesBit) != 0;
}

} // namespace

bool wideHardwareAvailable()
{
    static const bool available = [] {
        __builtin_cpu_init();
        // "avx2" also asks whether the system saves the 256-bit registers, which VAES needs too.
        return hardwareAvailable() && __builtin_cpu_supports("avx2") && cpuHasVaes();
    }();
    return available;
}

AES_WIDE_TARGET void wideHardwareCbcDecrypt(const RoundKeys& rk, const std::uint8_t* in, std::uint8_t* out,
                                            std::uint8_t iv[16], std::size_t blocks)
{
    // Eight registers of two blocks each: sixteen blocks in flight.
    constexpr std::size_t kRegisters = 8;
    constexpr std::size_t kGroupBlocks = 2 * kRegisters;
    struct WideSchedule {
        __m256i k[11];
    } d;
    WipeOnExit wipe(&d, sizeof d);
    // The equivalent inverse cipher, each round key in both lanes.
    d.k[0] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rk[10])));
    for (int r = 1; r < 10; ++r)
        d.k[r] = _mm256_broadcastsi128_si256(
            _mm_aesimc_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rk[10 - r]))));
    d.k[10] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rk[0])));

    __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    std::size_t i = 0;
    for (; i + kGroupBlocks <= blocks; i += kGroupBlocks) {
        const std::uint8_t* src = in + 16 * i;
        __m256i x[kRegisters];
        __m256i chain[kRegisters];
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kRegisters; ++j)
            x[j] = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * j)), d.k[0]);
        // Each block chains to the ciphertext block before it: one block back in memory.
        chain[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(previous),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), 1);
#pragma GCC unroll 8
        for (std::size_t j = 1; j < kRegisters; ++j)
            chain[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * j - 16));
        previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * (kGroupBlocks - 1)));
        for (int r = 1; r < 10; ++r) {
#pragma GCC unroll 8
            for (std::size_t j = 0; j < kRegisters; ++j)
                x[j] = _mm256_aesdec_epi128(x[j], d.k[r]);
        }
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kRegisters; ++j)
            x[j] = _mm256_aesdeclast_epi128(x[j], _mm256_xor_si256(d.k[10], chain[j]));
        // Every load above precedes these stores: `out` may lie at or before `in`.
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kRegisters; ++j)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * i + 32 * j), x[j]);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), previous);
    // Fewer than sixteen blocks left: the narrow path continues the chain from `iv`.
    hardwareCbcDecrypt(rk, in + 16 * i, out + 16 * i, iv, blocks - i);
}

} // namespace aesdetail

#endif
