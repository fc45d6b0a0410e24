#pragma once

#include <cstddef>
#include <cstdint>

// AES-128 (FIPS-197) and its CBC mode, on the processor's AES instructions when it has them and
// on a portable software path otherwise. Both paths produce identical results.

inline constexpr std::size_t kAesBlockSize = 16;
inline constexpr int kAesRoundKeyCount = 11;

// The AES state of one call. Holds key material: end every use with aesClear.
struct AesContext {
    alignas(16) std::uint8_t roundKeys[kAesRoundKeyCount][kAesBlockSize];
    std::uint64_t blockSize = kAesBlockSize;
};

// Zeroes the schedule, then expands the 16-byte key into the 11 round keys.
void aesInit(AesContext& ctx, const std::uint8_t key[16]);

// One block in place.
void aesEncryptBlock(const AesContext& ctx, std::uint8_t block[16]);
void aesDecryptBlock(const AesContext& ctx, std::uint8_t block[16]);

// CBC-enciphers `length` bytes from `in` to `out`. Returns -1 and writes nothing when `length`
// is not a multiple of the block size; otherwise returns 0. The caller's IV is left unchanged.
// `out` may equal `in` or start up to 16 bytes after it (every block is read before the block
// in front of it is written); other overlaps are not allowed.
int aesCbcEncrypt(const AesContext& ctx, const std::uint8_t* in, std::uint8_t* out, const std::uint8_t iv[16],
                  std::size_t length);

// CBC-deciphers `length` bytes from `in` to `out`. Returns -1 and does nothing when `length` is
// not a multiple of the block size; otherwise returns 0 and leaves the last ciphertext block in
// `iv`, so that a long stream can be deciphered in pieces. `out` may equal `in` or start anywhere
// before it; other overlaps are not allowed.
int aesCbcDecrypt(const AesContext& ctx, const std::uint8_t* in, std::uint8_t* out, std::uint8_t iv[16],
                  std::size_t length);

// Zeroes the whole schedule in a way the compiler cannot drop.
void aesClear(AesContext& ctx);

enum class AesImplementation {
    Portable,     // software, for processors without AES instructions
    Hardware,     // AES instructions on 128-bit registers
    HardwareWide, // as Hardware, but deciphers two blocks per instruction (VAES on 256-bit registers)
};

// True when the processor (and this build) can run that path.
bool aesImplementationSupported(AesImplementation implementation);

// The path every following call takes; starts as the fastest one supported. Selecting an
// unsupported path returns false and changes nothing. Meant for tests and diagnostics. Switching
// is safe at any time: every path builds the same schedule.
bool aesSelectImplementation(AesImplementation implementation);
AesImplementation aesActiveImplementation();

// "INTEL AES-NI" for the hardware paths, "portable C++" for the software path.
const char* aesImplementationName();
