// AES on the processor's AES instructions. Only the functions below carry the instruction-set
// attribute, so the rest of the program runs on processors without them.

#include "base/aes_backends.h"
#include "base/secure_wipe.h"

#if QUORIL_AES_HARDWARE_PATH

#include <immintrin.h>

#define AES_TARGET __attribute__((target("aes,sse4.1")))

namespace aesdetail {
namespace {

AES_TARGET inline __m128i loadBlock(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

AES_TARGET inline void storeBlock(std::uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

AES_TARGET inline __m128i nextRoundKey(__m128i key, __m128i assist)
{
    assist = _mm_shuffle_epi32(assist, 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    return _mm_xor_si128(key, assist);
}

struct Schedule {
    __m128i k[11];
};

AES_TARGET inline Schedule loadSchedule(const RoundKeys& rk)
{
    Schedule s;
    for (int i = 0; i < 11; ++i)
        s.k[i] = loadBlock(rk[i]);
    return s;
}

// The equivalent inverse cipher runs the schedule backwards with the middle keys passed
// through InvMixColumns.
AES_TARGET inline Schedule inverseSchedule(const RoundKeys& rk)
{
    Schedule s;
    s.k[0] = loadBlock(rk[10]);
    for (int i = 1; i < 10; ++i)
        s.k[i] = _mm_aesimc_si128(loadBlock(rk[10 - i]));
    s.k[10] = loadBlock(rk[0]);
    return s;
}

// Rounds 1 to 9 of the cipher; the caller adds round key 0 before and the last round after.
AES_TARGET inline __m128i encryptMiddleRounds(const Schedule& s, __m128i x)
{
    for (int r = 1; r < 10; ++r)
        x = _mm_aesenc_si128(x, s.k[r]);
    return x;
}

AES_TARGET inline __m128i decryptMiddleRounds(const Schedule& d, __m128i x)
{
    for (int r = 1; r < 10; ++r)
        x = _mm_aesdec_si128(x, d.k[r]);
    return x;
}

} // namespace

bool hardwareAvailable()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return available;
}

AES_TARGET void hardwareExpandKey(const std::uint8_t key[16], RoundKeys& rk)
{
    __m128i k = loadBlock(key);
    storeBlock(rk[0], k);
    // The round constant must be an immediate, hence one line per round.
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x01)), storeBlock(rk[1], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x02)), storeBlock(rk[2], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x04)), storeBlock(rk[3], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x08)), storeBlock(rk[4], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x10)), storeBlock(rk[5], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x20)), storeBlock(rk[6], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x40)), storeBlock(rk[7], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x80)), storeBlock(rk[8], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x1b)), storeBlock(rk[9], k);
    k = nextRoundKey(k, _mm_aeskeygenassist_si128(k, 0x36)), storeBlock(rk[10], k);
}

AES_TARGET void hardwareEncryptBlock(const RoundKeys& rk, std::uint8_t block[16])
{
    Schedule s = loadSchedule(rk);
    WipeOnExit wipe(&s, sizeof s);
    __m128i x = _mm_xor_si128(loadBlock(block), s.k[0]);
    x = encryptMiddleRounds(s, x);
    storeBlock(block, _mm_aesenclast_si128(x, s.k[10]));
}

AES_TARGET void hardwareDecryptBlock(const RoundKeys& rk, std::uint8_t block[16])
{
    Schedule d = inverseSchedule(rk);
    WipeOnExit wipe(&d, sizeof d);
    __m128i x = _mm_xor_si128(loadBlock(block), d.k[0]);
    x = decryptMiddleRounds(d, x);
    storeBlock(block, _mm_aesdeclast_si128(x, d.k[10]));
}

AES_TARGET void hardwareCbcEncrypt(const RoundKeys& rk, const std::uint8_t* in, std::uint8_t* out,
                                   const std::uint8_t iv[16], std::size_t blocks)
{
    if (blocks == 0)
        return;
    Schedule s = loadSchedule(rk);
    WipeOnExit wipe(&s, sizeof s);
    // CBC encryption is one dependency chain, so its length is the speed. The next block's
    // plaintext and round key 0 are folded into this block's last round key:
    // aesenclast(x, k10 ^ p' ^ k0) = c ^ p' ^ k0, the next block's first-round state. The chain
    // is then ten AES instructions per block and c comes back off the chain as state ^ p' ^ k0.
    __m128i state = _mm_xor_si128(_mm_xor_si128(loadBlock(in), s.k[0]), loadBlock(iv));
    for (std::size_t i = 0; i + 1 < blocks; ++i) {
        // Loaded before the store below: `out` may sit one block after `in`.
        const __m128i nextPlainKeyed = _mm_xor_si128(loadBlock(in + 16 * (i + 1)), s.k[0]);
        const __m128i x = encryptMiddleRounds(s, state);
        state = _mm_aesenclast_si128(x, _mm_xor_si128(s.k[10], nextPlainKeyed));
        storeBlock(out + 16 * i, _mm_xor_si128(state, nextPlainKeyed));
    }
    storeBlock(out + 16 * (blocks - 1), _mm_aesenclast_si128(encryptMiddleRounds(s, state), s.k[10]));
}

AES_TARGET void hardwareCbcDecrypt(const RoundKeys& rk, const std::uint8_t* in, std::uint8_t* out,
                                   std::uint8_t iv[16], std::size_t blocks)
{
    // Blocks decipher independently, so eight run interleaved to keep the AES units busy. The
    // chaining XOR is folded into the last round key: aesdeclast(x, k ^ c) = aesdeclast(x, k) ^ c.
    constexpr std::size_t kLanes = 8;
    Schedule d = inverseSchedule(rk);
    WipeOnExit wipe(&d, sizeof d);
    __m128i previous = loadBlock(iv);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i cipher[kLanes];
        __m128i x[kLanes];
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kLanes; ++j) {
            cipher[j] = loadBlock(in + 16 * (i + j));
            x[j] = _mm_xor_si128(cipher[j], d.k[0]);
        }
        for (int r = 1; r < 10; ++r) {
#pragma GCC unroll 8
            for (std::size_t j = 0; j < kLanes; ++j)
                x[j] = _mm_aesdec_si128(x[j], d.k[r]);
        }
        x[0] = _mm_aesdeclast_si128(x[0], _mm_xor_si128(d.k[10], previous));
#pragma GCC unroll 8
        for (std::size_t j = 1; j < kLanes; ++j)
            x[j] = _mm_aesdeclast_si128(x[j], _mm_xor_si128(d.k[10], cipher[j - 1]));
        // Every load above precedes these stores: `out` may lie at or before `in`.
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kLanes; ++j)
            storeBlock(out + 16 * (i + j), x[j]);
        previous = cipher[kLanes - 1];
    }
    for (; i < blocks; ++i) {
        const __m128i cipher = loadBlock(in + 16 * i);
        const __m128i x = decryptMiddleRounds(d, _mm_xor_si128(cipher, d.k[0]));
        storeBlock(out + 16 * i, _mm_aesdeclast_si128(x, _mm_xor_si128(d.k[10], previous)));
        previous = cipher;
    }
    storeBlock(iv, previous);
}

} // namespace aesdetail

#endif
