#include "base/sha1.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QUORIL_SHA1_X86 1
#endif

namespace {
constexpr uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

inline uint32_t rotateLeft(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

inline uint32_t loadBigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Fully unrolled with a 16-word rolling schedule; the variables rotate through the round
// macros instead of being shifted every round.
void compressPortable(uint32_t state[5], const uint8_t* data, size_t blocks)
{
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBigEndian32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

#define QUORIL_SHA1_W(i)                                                                               \
    ((i) < 16 ? w[(i)] : (w[(i) & 15] = rotateLeft(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1)))
#define QUORIL_SHA1_R(v, x, y, z, u, i, f, k)                   \
    u += rotateLeft(v, 5) + (f) + (k) + QUORIL_SHA1_W(i);        \
    x = rotateLeft(x, 30);
#define QUORIL_SHA1_F0(x, y, z) (z ^ (x & (y ^ z)))
#define QUORIL_SHA1_F1(x, y, z) (x ^ y ^ z)
#define QUORIL_SHA1_F2(x, y, z) ((x & y) | (z & (x | y)))
#define QUORIL_SHA1_FIVE(i, F, k)                                      \
    QUORIL_SHA1_R(a, b, c, d, e, i + 0, F(b, c, d), k)                 \
    QUORIL_SHA1_R(e, a, b, c, d, i + 1, F(a, b, c), k)                 \
    QUORIL_SHA1_R(d, e, a, b, c, i + 2, F(e, a, b), k)                 \
    QUORIL_SHA1_R(c, d, e, a, b, i + 3, F(d, e, a), k)                 \
    QUORIL_SHA1_R(b, c, d, e, a, i + 4, F(c, d, e), k)
        QUORIL_SHA1_FIVE(0, QUORIL_SHA1_F0, 0x5A827999u)
        QUORIL_SHA1_FIVE(5, QUORIL_SHA1_F0, 0x5A827999u)
        QUORIL_SHA1_FIVE(10, QUORIL_SHA1_F0, 0x5A827999u)
        QUORIL_SHA1_FIVE(15, QUORIL_SHA1_F0, 0x5A827999u)
        QUORIL_SHA1_FIVE(20, QUORIL_SHA1_F1, 0x6ED9EBA1u)
        QUORIL_SHA1_FIVE(25, QUORIL_SHA1_F1, 0x6ED9EBA1u)
        QUORIL_SHA1_FIVE(30, QUORIL_SHA1_F1, 0x6ED9EBA1u)
        QUORIL_SHA1_FIVE(35, QUORIL_SHA1_F1, 0x6ED9EBA1u)
        QUORIL_SHA1_FIVE(40, QUORIL_SHA1_F2, 0x8F1BBCDCu)
        QUORIL_SHA1_FIVE(45, QUORIL_SHA1_F2, 0x8F1BBCDCu)
        QUORIL_SHA1_FIVE(50, QUORIL_SHA1_F2, 0x8F1BBCDCu)
        QUORIL_SHA1_FIVE(55, QUORIL_SHA1_F2, 0x8F1BBCDCu)
        QUORIL_SHA1_FIVE(60, QUORIL_SHA1_F1, 0xCA62C1D6u)
        QUORIL_SHA1_FIVE(65, QUORIL_SHA1_F1, 0xCA62C1D6u)
        QUORIL_SHA1_FIVE(70, QUORIL_SHA1_F1, 0xCA62C1D6u)
        QUORIL_SHA1_FIVE(75, QUORIL_SHA1_F1, 0xCA62C1D6u)
#undef QUORIL_SHA1_FIVE
#undef QUORIL_SHA1_F2
#undef QUORIL_SHA1_F1
#undef QUORIL_SHA1_F0
#undef QUORIL_SHA1_R
#undef QUORIL_SHA1_W

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#ifdef QUORIL_SHA1_X86
// Twenty groups of four rounds. Group g uses message words W[g] (four at a time); from group 4
// on they are derived from the four before. The E input of a group is A from four rounds back,
// which sha1nexte rotates and adds to the message words.
__attribute__((target("sha,sse4.1"))) void compressShaExtensions(uint32_t state[5], const uint8_t* data,
                                                                    size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);
        __m128i e1;

        // Group 0: E is the state's own E.
        e0 = _mm_add_epi32(e0, m0);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);

// One group: E from the A saved before the previous group; saves A for the next one.
#define QUORIL_SHA1_GROUP(eIn, eOut, msg, func)       \
    eIn = _mm_sha1nexte_epu32(eIn, msg);              \
    eOut = abcd;                                      \
    abcd = _mm_sha1rnds4_epu32(abcd, eIn, func);
// Next message words: W[g] = msg2(msg1(W[g-4], W[g-3]) ^ W[g-2], W[g-1]).
#define QUORIL_SHA1_SCHEDULE(wOld, w1, w2, w3) \
    wOld = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(wOld, w1), w2), w3);

        QUORIL_SHA1_GROUP(e1, e0, m1, 0)   // group 1
        QUORIL_SHA1_GROUP(e0, e1, m2, 0)   // group 2
        QUORIL_SHA1_GROUP(e1, e0, m3, 0)   // group 3
        QUORIL_SHA1_SCHEDULE(m0, m1, m2, m3)
        QUORIL_SHA1_GROUP(e0, e1, m0, 0)   // group 4
        QUORIL_SHA1_SCHEDULE(m1, m2, m3, m0)
        QUORIL_SHA1_GROUP(e1, e0, m1, 1)   // group 5
        QUORIL_SHA1_SCHEDULE(m2, m3, m0, m1)
        QUORIL_SHA1_GROUP(e0, e1, m2, 1)
        QUORIL_SHA1_SCHEDULE(m3, m0, m1, m2)
        QUORIL_SHA1_GROUP(e1, e0, m3, 1)
        QUORIL_SHA1_SCHEDULE(m0, m1, m2, m3)
        QUORIL_SHA1_GROUP(e0, e1, m0, 1)
        QUORIL_SHA1_SCHEDULE(m1, m2, m3, m0)
        QUORIL_SHA1_GROUP(e1, e0, m1, 1)   // group 9
        QUORIL_SHA1_SCHEDULE(m2, m3, m0, m1)
        QUORIL_SHA1_GROUP(e0, e1, m2, 2)   // group 10
        QUORIL_SHA1_SCHEDULE(m3, m0, m1, m2)
        QUORIL_SHA1_GROUP(e1, e0, m3, 2)
        QUORIL_SHA1_SCHEDULE(m0, m1, m2, m3)
        QUORIL_SHA1_GROUP(e0, e1, m0, 2)
        QUORIL_SHA1_SCHEDULE(m1, m2, m3, m0)
        QUORIL_SHA1_GROUP(e1, e0, m1, 2)
        QUORIL_SHA1_SCHEDULE(m2, m3, m0, m1)
        QUORIL_SHA1_GROUP(e0, e1, m2, 2)   // group 14
        QUORIL_SHA1_SCHEDULE(m3, m0, m1, m2)
        QUORIL_SHA1_GROUP(e1, e0, m3, 3)   // group 15
        QUORIL_SHA1_SCHEDULE(m0, m1, m2, m3)
        QUORIL_SHA1_GROUP(e0, e1, m0, 3)
        QUORIL_SHA1_SCHEDULE(m1, m2, m3, m0)
        QUORIL_SHA1_GROUP(e1, e0, m1, 3)
        QUORIL_SHA1_SCHEDULE(m2, m3, m0, m1)
        QUORIL_SHA1_GROUP(e0, e1, m2, 3)
        QUORIL_SHA1_SCHEDULE(m3, m0, m1, m2)
        QUORIL_SHA1_GROUP(e1, e0, m3, 3)   // group 19
#undef QUORIL_SHA1_SCHEDULE
#undef QUORIL_SHA1_GROUP

        // E after the block is A from before the last group, rotated, plus the block's starting E.
        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#endif

bool detectShaExtensions()
{
#ifdef QUORIL_SHA1_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
#else
    return false;
#endif
}
} // namespace

bool Sha1::shaExtensionsAvailable()
{
    static const bool available = detectShaExtensions();
    return available;
}

Sha1::Engine Sha1::bestEngine()
{
    return shaExtensionsAvailable() ? Engine::ShaExtensions : Engine::Portable;
}

Sha1::Sha1(Engine engine)
    : m_engine(engine == Engine::ShaExtensions && !shaExtensionsAvailable() ? Engine::Portable : engine)
{
    reset();
}

void Sha1::reset()
{
    std::memcpy(m_state, kInitialState, sizeof m_state);
    m_length = 0;
    m_buffered = 0;
    m_digest.fill(0);
}

void Sha1::compress(const uint8_t* blocks, size_t count)
{
#ifdef QUORIL_SHA1_X86
    if (m_engine == Engine::ShaExtensions) {
        compressShaExtensions(m_state, blocks, count);
        return;
    }
#endif
    compressPortable(m_state, blocks, count);
}

void Sha1::update(const void* data, size_t length)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    m_length += length;
    if (m_buffered > 0) {
        const size_t take = std::min(length, sizeof m_buffer - m_buffered);
        std::memcpy(m_buffer + m_buffered, bytes, take);
        m_buffered += take;
        bytes += take;
        length -= take;
        if (m_buffered < sizeof m_buffer)
            return;
        compress(m_buffer, 1);
        m_buffered = 0;
    }
    const size_t blocks = length / 64;
    if (blocks > 0)
        compress(bytes, blocks);
    bytes += blocks * 64;
    length -= blocks * 64;
    std::memcpy(m_buffer, bytes, length);
    m_buffered = length;
}

void Sha1::finish()
{
    const uint64_t bitLength = m_length * 8;
    uint8_t padding[128] = {0x80};
    const size_t padLength = (m_buffered < 56 ? 56 : 120) - m_buffered;
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<uint8_t>(bitLength >> (56 - 8 * i));
    update(padding, padLength);
    update(lengthBytes, sizeof lengthBytes);
    for (int i = 0; i < 5; ++i) {
        m_digest[size_t(4 * i)] = static_cast<uint8_t>(m_state[i] >> 24);
        m_digest[size_t(4 * i + 1)] = static_cast<uint8_t>(m_state[i] >> 16);
        m_digest[size_t(4 * i + 2)] = static_cast<uint8_t>(m_state[i] >> 8);
        m_digest[size_t(4 * i + 3)] = static_cast<uint8_t>(m_state[i]);
    }
}

bool Sha1::hashFile(const wchar_t* path)
{
    reset();
    const QByteArray nativePath = QFile::encodeName(QString::fromWCharArray(path));
    std::FILE* file = std::fopen(nativePath.constData(), "rb");
    if (!file)
        return false;
    // The chunks go straight from the kernel into the buffer; stdio's own would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const std::unique_ptr<uint8_t[]> chunk(new uint8_t[kFileChunkSize]);
    size_t got;
    do {
        got = std::fread(chunk.get(), 1, kFileChunkSize, file);
        if (got > 0)
            update(chunk.get(), got);
    } while (got == kFileChunkSize);
    const bool complete = std::feof(file) != 0;
    std::fclose(file);
    if (!complete) {
        reset();
        return false;
    }
    finish();
    return true;
}
