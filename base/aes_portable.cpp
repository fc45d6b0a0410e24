// Software AES for processors without AES instructions: byte-oriented, S-box tables built at
// compile time from the field arithmetic so that no table is typed in by hand.

#include "base/aes_backends.h"

#include <array>
#include <cstring>

namespace aesdetail {
namespace {

using Block = std::array<std::uint8_t, 16>;

constexpr std::uint8_t xtime(std::uint8_t a)
{
    return std::uint8_t((a << 1) ^ ((a & 0x80) ? 0x1b : 0x00));
}

constexpr std::uint8_t gfMultiply(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    while (b != 0) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr std::uint8_t rotateLeft(std::uint8_t b, int n)
{
    return std::uint8_t((b << n) | (b >> (8 - n)));
}

constexpr std::array<std::uint8_t, 256> makeSbox()
{
    std::array<std::uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x) {
        // The multiplicative inverse is x^254 (0 maps to 0).
        std::uint8_t inverse = 1;
        std::uint8_t power = std::uint8_t(x);
        for (int e = 254; e != 0; e >>= 1) {
            if (e & 1)
                inverse = gfMultiply(inverse, power);
            power = gfMultiply(power, power);
        }
        if (x == 0)
            inverse = 0;
        box[x] = std::uint8_t(inverse ^ rotateLeft(inverse, 1) ^ rotateLeft(inverse, 2) ^ rotateLeft(inverse, 3)
                              ^ rotateLeft(inverse, 4) ^ 0x63);
    }
    return box;
}

constexpr std::array<std::uint8_t, 256> invert(const std::array<std::uint8_t, 256>& box)
{
    std::array<std::uint8_t, 256> inverse{};
    for (int x = 0; x < 256; ++x)
        inverse[box[x]] = std::uint8_t(x);
    return inverse;
}

constexpr std::array<std::uint8_t, 256> kSbox = makeSbox();
constexpr std::array<std::uint8_t, 256> kInverseSbox = invert(kSbox);
static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xed && kSbox[0xff] == 0x16);

// State bytes are in input order: byte 4c + r is row r of column c.
void addRoundKey(Block& s, const std::uint8_t* roundKey)
{
    for (int i = 0; i < 16; ++i)
        s[i] ^= roundKey[i];
}

void subBytesShiftRows(Block& s)
{
    Block t;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * c + r] = kSbox[s[4 * ((c + r) % 4) + r]];
    s = t;
}

void inverseShiftRowsSubBytes(Block& s)
{
    Block t;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * ((c + r) % 4) + r] = kInverseSbox[s[4 * c + r]];
    s = t;
}

void mixColumns(Block& s)
{
    for (int c = 0; c < 4; ++c) {
        std::uint8_t* a = &s[4 * c];
        const std::uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        const std::uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        a[0] = a0 ^ all ^ xtime(a0 ^ a1);
        a[1] = a1 ^ all ^ xtime(a1 ^ a2);
        a[2] = a2 ^ all ^ xtime(a2 ^ a3);
        a[3] = a3 ^ all ^ xtime(a3 ^ a0);
    }
}

void inverseMixColumns(Block& s)
{
    // InvMixColumns = MixColumns after adding 4·(a0 ^ a2) to the even and 4·(a1 ^ a3) to the odd rows.
    for (int c = 0; c < 4; ++c) {
        std::uint8_t* a = &s[4 * c];
        const std::uint8_t even = xtime(xtime(a[0] ^ a[2]));
        const std::uint8_t odd = xtime(xtime(a[1] ^ a[3]));
        a[0] ^= even;
        a[1] ^= odd;
        a[2] ^= even;
        a[3] ^= odd;
    }
    mixColumns(s);
}

void encrypt(const RoundKeys& rk, Block& s)
{
    addRoundKey(s, rk[0]);
    for (int round = 1; round < 10; ++round) {
        subBytesShiftRows(s);
        mixColumns(s);
        addRoundKey(s, rk[round]);
    }
    subBytesShiftRows(s);
    addRoundKey(s, rk[10]);
}

void decrypt(const RoundKeys& rk, Block& s)
{
    addRoundKey(s, rk[10]);
    for (int round = 9; round > 0; --round) {
        inverseShiftRowsSubBytes(s);
        addRoundKey(s, rk[round]);
        inverseMixColumns(s);
    }
    inverseShiftRowsSubBytes(s);
    addRoundKey(s, rk[0]);
}

Block load(const std::uint8_t* p)
{
    Block b;
    std::memcpy(b.data(), p, 16);
    return b;
}

} // namespace

void portableExpandKey(const std::uint8_t key[16], RoundKeys& rk)
{
    static constexpr std::uint8_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};
    std::uint8_t* w = &rk[0][0];
    std::memcpy(w, key, 16);
    for (int i = 4; i < 44; ++i) {
        std::uint8_t t[4] = {w[4 * (i - 1)], w[4 * (i - 1) + 1], w[4 * (i - 1) + 2], w[4 * (i - 1) + 3]};
        if (i % 4 == 0) {
            const std::uint8_t first = t[0];
            t[0] = std::uint8_t(kSbox[t[1]] ^ kRoundConstants[i / 4 - 1]);
            t[1] = kSbox[t[2]];
            t[2] = kSbox[t[3]];
            t[3] = kSbox[first];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = std::uint8_t(w[4 * (i - 4) + j] ^ t[j]);
    }
}

void portableEncryptBlock(const RoundKeys& rk, std::uint8_t block[16])
{
    Block s = load(block);
    encrypt(rk, s);
    std::memcpy(block, s.data(), 16);
}

void portableDecryptBlock(const RoundKeys& rk, std::uint8_t block[16])
{
    Block s = load(block);
    decrypt(rk, s);
    std::memcpy(block, s.data(), 16);
}

void portableCbcEncrypt(const RoundKeys& rk, const std::uint8_t* in, std::uint8_t* out, const std::uint8_t iv[16],
                        std::size_t blocks)
{
    if (blocks == 0)
        return;
    Block chain = load(iv);
    Block next = load(in);
    for (std::size_t i = 0; i < blocks; ++i) {
        Block s = next;
        // Read ahead before writing: `out` may sit one block after `in`.
        if (i + 1 < blocks)
            next = load(in + 16 * (i + 1));
        for (int j = 0; j < 16; ++j)
            s[j] ^= chain[j];
        encrypt(rk, s);
        std::memcpy(out + 16 * i, s.data(), 16);
        chain = s;
    }
}

void portableCbcDecrypt(const RoundKeys& rk, const std::uint8_t* in, std::uint8_t* out, std::uint8_t iv[16],
                        std::size_t blocks)
{
    Block chain = load(iv);
    for (std::size_t i = 0; i < blocks; ++i) {
        const Block cipher = load(in + 16 * i);
        Block s = cipher;
        decrypt(rk, s);
        for (int j = 0; j < 16; ++j)
            s[j] ^= chain[j];
        std::memcpy(out + 16 * i, s.data(), 16);
        chain = cipher;
    }
    std::memcpy(iv, chain.data(), 16);
}

} // namespace aesdetail
