#include "base/tar_header.h"

#include <cstdio>

namespace tarheader {

unsigned checksumOf(const Block& block)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        const bool inChecksumField = i >= kChecksumOffset && i < kChecksumOffset + kChecksumSize;
        sum += inChecksumField ? unsigned(' ') : unsigned(static_cast<unsigned char>(block[i]));
    }
    return sum;
}

std::array<char, 7> formatChecksum(unsigned sum)
{
    std::array<char, 7> text{};
    std::snprintf(text.data(), text.size(), "%06o", sum);
    return text;
}

} // namespace tarheader
