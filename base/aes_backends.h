#pragma once

// The two AES paths behind aes.cpp. Counts are in 16-byte blocks; the overlap rules of
// aesCbcEncrypt and aesCbcDecrypt apply to both paths.

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define QUORIL_AES_HARDWARE_PATH 1
#else
#define QUORIL_AES_HARDWARE_PATH 0
#endif

namespace aesdetail {

using RoundKeys = std::uint8_t[11][16];

void portableExpandKey(const std::uint8_t key[16], RoundKeys& roundKeys);
void portableEncryptBlock(const RoundKeys& roundKeys, std::uint8_t block[16]);
void portableDecryptBlock(const RoundKeys& roundKeys, std::uint8_t block[16]);
void portableCbcEncrypt(const RoundKeys& roundKeys, const std::uint8_t* in, std::uint8_t* out,
                        const std::uint8_t iv[16], std::size_t blocks);
void portableCbcDecrypt(const RoundKeys& roundKeys, const std::uint8_t* in, std::uint8_t* out,
                        std::uint8_t iv[16], std::size_t blocks);

#if QUORIL_AES_HARDWARE_PATH
bool hardwareAvailable();
void hardwareExpandKey(const std::uint8_t key[16], RoundKeys& roundKeys);
void hardwareEncryptBlock(const RoundKeys& roundKeys, std::uint8_t block[16]);
void hardwareDecryptBlock(const RoundKeys& roundKeys, std::uint8_t block[16]);
void hardwareCbcEncrypt(const RoundKeys& roundKeys, const std::uint8_t* in, std::uint8_t* out,
                        const std::uint8_t iv[16], std::size_t blocks);
void hardwareCbcDecrypt(const RoundKeys& roundKeys, const std::uint8_t* in, std::uint8_t* out,
                        std::uint8_t iv[16], std::size_t blocks);

bool wideHardwareAvailable();
void wideHardwareCbcDecrypt(const RoundKeys& roundKeys, const std::uint8_t* in, std::uint8_t* out,
                            std::uint8_t iv[16], std::size_t blocks);
#endif

} // namespace aesdetail
