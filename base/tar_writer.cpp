#include "base/tar_writer.h"

#include "base/tar_header.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>

using namespace tarheader;

namespace {

const char kZeros[2 * kBlockSize] = {};

std::string quoted(std::string_view name)
{
    return "\"" + std::string(name) + "\"";
}

struct SplitName {
    std::string_view last;
    std::string_view prefix;
};

// A name longer than the name field is split at a "/" as GNU tar splits it: the longest part
// before a "/" that the prefix field holds, the rest in the name field. Either field may be filled
// to its last byte without a NUL.
SplitName splitName(std::string_view name)
{
    // Readers take a regular-file entry ending in "/" for a folder.
    if (name.back() == '/')
        throw std::runtime_error("Invalid archive name " + quoted(name) + ". It must not end in \"/\"");
    if (name.size() <= kNameSize)
        return {name, {}};
    std::size_t slash = name.rfind('/', kPrefixSize);
    // Within a run of slashes the split comes before the first: a prefix ending in "/" is joined to
    // the name without the separator by some readers and with it by others.
    while (slash != std::string_view::npos && slash > 0 && name[slash - 1] == '/')
        --slash;
    if (slash == std::string_view::npos || slash == 0 || name.size() - slash - 1 > kNameSize)
        throw std::runtime_error("Invalid archive name " + quoted(name) + ". 0 < length < 100");
    return {name.substr(slash + 1), name.substr(0, slash)};
}

void putText(Block& block, std::size_t offset, std::string_view text)
{
    std::copy(text.begin(), text.end(), block.begin() + std::ptrdiff_t(offset));
}

Block buildHeader(std::string_view name, std::int64_t length)
{
    Block block{};
    putText(block, kMagicOffset, std::string_view(kMagic, sizeof kMagic));
    // A blank and a NUL where POSIX has "00": the archives have always been written this way.
    putText(block, kVersionOffset, std::string_view(" \0", 2));
    std::snprintf(block.data() + kMtimeOffset, 12, "%011lo", static_cast<unsigned long>(std::time(nullptr)));
    std::snprintf(block.data() + kModeOffset, 8, "%07o", 0644u);
    putText(block, kUnameOffset, "draft");
    putText(block, kGnameOffset, "users");
    const SplitName split = splitName(name);
    putText(block, kNameOffset, split.last);
    putText(block, kPrefixOffset, split.prefix);
    block[kTypeflagOffset] = '\0';
    std::snprintf(block.data() + kSizeOffset, kSizeFieldSize, "%011llo", static_cast<unsigned long long>(length));
    const std::array<char, 7> checksum = formatChecksum(checksumOf(block));
    std::memcpy(block.data() + kChecksumOffset, checksum.data(), checksum.size());
    return block;
}

std::string_view checkedName(const char* name)
{
    if (name == nullptr || *name == '\0')
        throw std::runtime_error("Invalid archive name");
    return name;
}

} // namespace

TarDuplicateException::TarDuplicateException(const std::string& name)
    : std::runtime_error("Attempted to add a duplicated resource to tar file: " + name)
{
}

TarWriter::TarWriter(std::ostream* stream)
    : stream(stream)
{
}

TarWriter::~TarWriter()
{
    if (!finished)
        std::cerr << "tar file was not finished." << std::endl;
}

void TarWriter::refuseDuplicate(const char* name) const
{
    if (writtenNames.contains(std::string(checkedName(name))))
        throw TarDuplicateException(name);
}

void TarWriter::writeHeader(const char* name, std::int64_t length)
{
    const Block header = buildHeader(checkedName(name), length);
    stream->write(header.data(), header.size());
}

void TarWriter::writePadding(std::int64_t length)
{
    stream->write(kZeros, paddingFor(length));
}

void TarWriter::put(const char* name, const char* data, std::int64_t length)
{
    refuseDuplicate(name);
    if (length < 0 || length > kMaxEntryLength)
        throw std::runtime_error("Invalid length " + std::to_string(length) + " of archive entry " + quoted(name));
    writeHeader(name, length);
    stream->write(data, length);
    writePadding(length);
    writtenNames.emplace(name);
}

void TarWriter::putFile(const QString& sourcePath, const char* name)
{
    refuseDuplicate(name);
    const std::string path = sourcePath.toStdString();
    // Only a regular file has a length known up front; a folder, pipe or device would
    // leave a header whose size does not match the bytes that follow.
    QFile source(sourcePath);
    if (!QFileInfo(sourcePath).isFile() || !source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw std::runtime_error("Could not open file: " + path);
    const std::int64_t length = source.size();
    if (length > kMaxEntryLength)
        throw std::runtime_error("File too large for tar file (at most 8589934591 bytes): " + path);

    writeHeader(name, length);
    const auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunkSize);
    std::int64_t remaining = length;
    while (remaining > 0) {
        const qint64 got = source.read(buffer.get(), std::min<std::int64_t>(remaining, kCopyChunkSize));
        if (got <= 0)
            break;
        stream->write(buffer.get(), got);
        remaining -= got;
    }
    source.close();
    if (remaining > 0)
        throw std::runtime_error("Failed to copy content of: " + path + " to tar file. Check for free disk space.");
    writePadding(length);
    writtenNames.emplace(name);
}

bool TarWriter::acceptsName(const char* name)
{
    try {
        splitName(checkedName(name));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void TarWriter::finish()
{
    finished = true;
    stream->write(kZeros, sizeof kZeros);
    stream->flush();
    if (stream->fail())
        throw std::runtime_error("Failed to write data to tar file. Check for free disk space.");
}
