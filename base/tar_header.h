#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The ustar header block as both the archive writer and the reader see it.
namespace tarheader {

inline constexpr std::size_t kBlockSize = 512;
// Both sides copy entry bytes through one buffer of this size.
inline constexpr std::size_t kCopyChunkSize = 131072;
// Eleven octal digits are all the size field holds.
inline constexpr std::int64_t kMaxEntryLength = 8589934591LL;

inline constexpr std::size_t kNameOffset = 0;
inline constexpr std::size_t kNameSize = 100;
inline constexpr std::size_t kModeOffset = 100;
inline constexpr std::size_t kSizeOffset = 124;
inline constexpr std::size_t kSizeFieldSize = 12;
inline constexpr std::size_t kMtimeOffset = 136;
inline constexpr std::size_t kChecksumOffset = 148;
inline constexpr std::size_t kChecksumSize = 8;
inline constexpr std::size_t kTypeflagOffset = 156;
inline constexpr std::size_t kMagicOffset = 257;
inline constexpr std::size_t kVersionOffset = 263;
inline constexpr std::size_t kUnameOffset = 265;
inline constexpr std::size_t kGnameOffset = 297;
inline constexpr std::size_t kPrefixOffset = 345;
inline constexpr std::size_t kPrefixSize = 155;

using Block = std::array<char, kBlockSize>;

// "ustar" and its NUL, the form that announces the prefix field.
inline constexpr char kMagic[6] = {'u', 's', 't', 'a', 'r', '\0'};

// Sum of the block's bytes taken as unsigned, the checksum field counted as eight blanks.
unsigned checksumOf(const Block& block);

// The first seven bytes of the checksum field: six octal digits and a NUL.
std::array<char, 7> formatChecksum(unsigned sum);

// NUL bytes that follow an entry of this length up to the next block boundary.
inline std::int64_t paddingFor(std::int64_t length)
{
    return (static_cast<std::int64_t>(kBlockSize) - length % static_cast<std::int64_t>(kBlockSize))
        % static_cast<std::int64_t>(kBlockSize);
}

} // namespace tarheader
