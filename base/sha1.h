#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Incremental SHA-1. Uses the processor's SHA instructions when it has them.
class Sha1 {
public:
    using Digest = std::array<uint8_t, 20>;
    enum class Engine { Portable, ShaExtensions };
    // Files are streamed through one buffer of this size.
    static constexpr size_t kFileChunkSize = 524800;

    static bool shaExtensionsAvailable();
    static Engine bestEngine();

    // An engine the processor lacks falls back to the portable one.
    explicit Sha1(Engine engine = bestEngine());

    Engine engine() const { return m_engine; }
    void reset();
    void update(const void* data, size_t length);
    void finish();
    const Digest& digest() const { return m_digest; }

    // Hashes a whole file. False, with an all-zero digest, when it cannot be opened or read to its end.
    bool hashFile(const wchar_t* path);

private:
    void compress(const uint8_t* blocks, size_t count);

    Engine m_engine;
    uint32_t m_state[5];
    uint64_t m_length = 0;
    uint8_t m_buffer[64];
    size_t m_buffered = 0;
    Digest m_digest{};
};
