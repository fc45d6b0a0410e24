#include "base/aes.h"

#include "base/aes_backends.h"
#include "base/secure_wipe.h"

#include <atomic>
#include <cstring>

namespace {

struct AesPath {
    AesImplementation implementation;
    const char* name;
    void (*expandKey)(const std::uint8_t*, aesdetail::RoundKeys&);
    void (*encryptBlock)(const aesdetail::RoundKeys&, std::uint8_t*);
    void (*decryptBlock)(const aesdetail::RoundKeys&, std::uint8_t*);
    void (*cbcEncrypt)(const aesdetail::RoundKeys&, const std::uint8_t*, std::uint8_t*, const std::uint8_t*,
                       std::size_t);
    void (*cbcDecrypt)(const aesdetail::RoundKeys&, const std::uint8_t*, std::uint8_t*, std::uint8_t*, std::size_t);
};

constexpr AesPath kPortablePath{AesImplementation::Portable,
                                "portable C++",
                                aesdetail::portableExpandKey,
                                aesdetail::portableEncryptBlock,
                                aesdetail::portableDecryptBlock,
                                aesdetail::portableCbcEncrypt,
                                aesdetail::portableCbcDecrypt};

#if QUORIL_AES_HARDWARE_PATH
constexpr AesPath kHardwarePath{AesImplementation::Hardware,
                                "INTEL AES-NI",
                                aesdetail::hardwareExpandKey,
                                aesdetail::hardwareEncryptBlock,
                                aesdetail::hardwareDecryptBlock,
                                aesdetail::hardwareCbcEncrypt,
                                aesdetail::hardwareCbcDecrypt};

constexpr AesPath kHardwareWidePath{AesImplementation::HardwareWide,
                                    "INTEL AES-NI",
                                    aesdetail::hardwareExpandKey,
                                    aesdetail::hardwareEncryptBlock,
                                    aesdetail::hardwareDecryptBlock,
                                    aesdetail::hardwareCbcEncrypt,
                                    aesdetail::wideHardwareCbcDecrypt};
#endif

// Null when the processor or the build cannot run that path.
const AesPath* pathFor(AesImplementation implementation)
{
    switch (implementation) {
    case AesImplementation::Portable:
        return &kPortablePath;
#if QUORIL_AES_HARDWARE_PATH
    case AesImplementation::Hardware:
        return aesdetail::hardwareAvailable() ? &kHardwarePath : nullptr;
    case AesImplementation::HardwareWide:
        return aesdetail::wideHardwareAvailable() ? &kHardwareWidePath : nullptr;
#else
    case AesImplementation::Hardware:
    case AesImplementation::HardwareWide:
        return nullptr;
#endif
    }
    return nullptr;
}

const AesPath* fastestPath()
{
    for (AesImplementation candidate : {AesImplementation::HardwareWide, AesImplementation::Hardware})
        if (const AesPath* path = pathFor(candidate))
            return path;
    return &kPortablePath;
}

std::atomic<const AesPath*>& activePathSlot()
{
    static std::atomic<const AesPath*> slot{fastestPath()};
    return slot;
}

const AesPath& activePath()
{
    return *activePathSlot().load(std::memory_order_relaxed);
}

bool isWholeBlocks(std::size_t length)
{
    return length % kAesBlockSize == 0;
}

} // namespace

void aesInit(AesContext& ctx, const std::uint8_t key[16])
{
    std::memset(ctx.roundKeys, 0, sizeof ctx.roundKeys);
    activePath().expandKey(key, ctx.roundKeys);
    ctx.blockSize = kAesBlockSize;
}

void aesEncryptBlock(const AesContext& ctx, std::uint8_t block[16])
{
    activePath().encryptBlock(ctx.roundKeys, block);
}

void aesDecryptBlock(const AesContext& ctx, std::uint8_t block[16])
{
    activePath().decryptBlock(ctx.roundKeys, block);
}

int aesCbcEncrypt(const AesContext& ctx, const std::uint8_t* in, std::uint8_t* out, const std::uint8_t iv[16],
                  std::size_t length)
{
    if (!isWholeBlocks(length))
        return -1;
    activePath().cbcEncrypt(ctx.roundKeys, in, out, iv, length / kAesBlockSize);
    return 0;
}

int aesCbcDecrypt(const AesContext& ctx, const std::uint8_t* in, std::uint8_t* out, std::uint8_t iv[16],
                  std::size_t length)
{
    if (!isWholeBlocks(length))
        return -1;
    activePath().cbcDecrypt(ctx.roundKeys, in, out, iv, length / kAesBlockSize);
    return 0;
}

void aesClear(AesContext& ctx)
{
    secureWipe(ctx.roundKeys, sizeof ctx.roundKeys);
}

bool aesImplementationSupported(AesImplementation implementation)
{
    return pathFor(implementation) != nullptr;
}

bool aesSelectImplementation(AesImplementation implementation)
{
    const AesPath* path = pathFor(implementation);
    if (path == nullptr)
        return false;
    activePathSlot().store(path);
    return true;
}

AesImplementation aesActiveImplementation()
{
    return activePath().implementation;
}

const char* aesImplementationName()
{
    return activePath().name;
}
