#include "base/tar_reader.h"

#include "base/progress.h"
#include "base/tar_header.h"
#include "base/write_failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

using namespace tarheader;

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

// Progress counts in int; larger archives are counted in coarser units.
class ExtractionProgress {
public:
    ExtractionProgress(const QString& tarPath, qint64 totalBytes)
        : unit(std::max<qint64>(1, totalBytes / INT_MAX + 1))
    {
        ProgressRequest request;
        request.title = QStringLiteral("Extracting...");
        request.label = QStringLiteral("Extracting file: ") + QFileInfo(tarPath).fileName();
        request.maximum = int(totalBytes / unit);
        request.applicationModal = true;
        progress = openProgress(request);
    }

    void update(qint64 position) { progress->setValue(int(position / unit)); }

private:
    std::unique_ptr<Progress> progress;
    const qint64 unit;
};

// lstat semantics: a symbolic link counts as present even when it points nowhere.
bool somethingAt(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// An entry name may only reach below the destination folder.
bool staysInside(const QString& name)
{
    if (name.startsWith(u'/'))
        return false;
    const auto parts = QStringView(name).split(u'/');
    return std::none_of(parts.begin(), parts.end(), [](QStringView part) { return part == u".."; });
}

QByteArray fieldBytes(const Block& block, std::size_t offset, std::size_t size)
{
    const char* field = block.data() + offset;
    const void* nul = std::memchr(field, '\0', size);
    const std::size_t length = nul ? static_cast<const char*>(nul) - field : size;
    return QByteArray(field, qsizetype(length));
}

QByteArray headerName(const Block& block)
{
    const bool ustar = std::memcmp(block.data() + kMagicOffset, kMagic, sizeof kMagic) == 0;
    const QByteArray name = fieldBytes(block, kNameOffset, kNameSize);
    const QByteArray prefix = ustar ? fieldBytes(block, kPrefixOffset, kPrefixSize) : QByteArray();
    return prefix.isEmpty() ? name : prefix + '/' + name;
}

// Names are UTF-8; anything else could only be written under a name that is not its own.
std::optional<QString> utf8Name(const QByteArray& bytes)
{
    if (bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString name = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return name;
}

// Records of a pax extended header: "<length> <key>=<value>\n", the length counting the whole
// record. Only the keys that change where an entry goes or how long it is matter here.
struct PaxRecords {
    std::optional<QByteArray> path;
    std::optional<qint64> size;
};

std::optional<qint64> decimal(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<PaxRecords> parsePax(const QByteArray& data)
{
    PaxRecords records;
    QByteArrayView rest(data);
    while (!rest.isEmpty()) {
        const qsizetype blank = rest.indexOf(' ');
        const std::optional<qint64> length = blank > 0 ? decimal(rest.first(blank)) : std::nullopt;
        if (!length || *length <= blank + 2 || *length > rest.size() || rest[*length - 1] != '\n')
            return std::nullopt;
        const QByteArrayView record = rest.sliced(blank + 1, *length - blank - 2);
        rest = rest.sliced(*length);
        const qsizetype equals = record.indexOf('=');
        if (equals < 1)
            return std::nullopt;
        const QByteArrayView key = record.first(equals);
        const QByteArrayView value = record.sliced(equals + 1);
        if (key == "path") {
            records.path = value.toByteArray();
        } else if (key == "size") {
            records.size = decimal(value);
            if (!records.size)
                return std::nullopt;
        }
    }
    return records;
}

// Octal digits after optional blanks, ended by a NUL or a blank inside the field. Anything
// else (base-256, signs, stray characters) is refused rather than guessed at.
std::optional<qint64> entrySize(const Block& block)
{
    const char* field = block.data() + kSizeOffset;
    std::size_t i = 0;
    while (i < kSizeFieldSize && field[i] == ' ')
        ++i;
    const std::size_t firstDigit = i;
    qint64 value = 0;
    for (; i < kSizeFieldSize && field[i] >= '0' && field[i] <= '7'; ++i)
        value = value * 8 + (field[i] - '0');
    if (i == firstDigit || i == kSizeFieldSize || (field[i] != '\0' && field[i] != ' '))
        return std::nullopt;
    return value;
}

bool isEndBlock(const Block& block)
{
    return std::all_of(block.begin(), block.end(), [](char c) { return c == '\0'; });
}

// An extracted file is written under a temporary name beside its own and renamed at the end,
// so a failed copy never leaves a partial file under the real name.
class PartFile {
public:
    explicit PartFile(QString finalPath)
        : finalPath(std::move(finalPath))
    {
    }
    ~PartFile()
    {
        if (!committed && !file.fileName().isEmpty()) {
            file.close();
            QFile::remove(file.fileName());
        }
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Creates a fresh file (never an existing one, never through a link); false when the
    // folder is missing or cannot take it.
    bool open()
    {
        const QString folder = QFileInfo(finalPath).path();
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const QString candidate = folder + QStringLiteral("/.extracting-%1.part").arg(attempt);
            if (candidate == finalPath)
                continue;
            file.setFileName(candidate);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                return true;
            if (!somethingAt(candidate))
                break;
        }
        file.setFileName(QString());
        return false;
    }

    QFile& device() { return file; }

    // Gives the file its real name unless something has taken that name meanwhile.
    bool commit()
    {
        file.close();
        if (file.error() != QFileDevice::NoError)
            return false;
        const QByteArray from = QFile::encodeName(file.fileName());
        const QByteArray to = QFile::encodeName(finalPath);
        int result = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without no-replace renames: a hard link refuses an existing name too.
            result = ::link(from.constData(), to.constData());
            if (result == 0)
                ::unlink(from.constData());
        }
        committed = result == 0;
        return committed;
    }

private:
    QString finalPath;
    QFile file;
    bool committed = false;
};

class TarExtraction {
public:
    explicit TarExtraction(const QString& tarPath)
        : tarPath(tarPath)
        , archive(tarPath)
        , archiveSize(QFileInfo(tarPath).size())
        , progress(tarPath, archiveSize)
        , buffer(std::make_unique_for_overwrite<char[]>(kCopyChunkSize))
    {
    }

    QStringList run()
    {
        if (!archive.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            fail("Could not open file: " + tarPath);
        destination = QFileInfo(tarPath).absolutePath();
        // A hostile or broken entry anywhere refuses the whole archive before anything is written.
        checkAllHeaders();
        if (!archive.seek(0))
            fail("Could not open file: " + tarPath);
        QStringList names;
        for (;;) {
            progress.update(archive.pos());
            const std::optional<Entry> entry = nextEntry();
            if (!entry)
                break;
            extractEntry(*entry);
            names << entry->name;
            if (archive.pos() >= archiveSize)
                break;
        }
        archive.close();
        if (archive.error() != QFileDevice::NoError)
            fail("Could not close .tar file: " + tarPath);
        return names;
    }

private:
    struct Entry {
        QString name;
        qint64 size = 0;
        char type = '\0';
    };

    // A long name or an extended header is the whole entry's name, so it is capped well above
    // any real path but far below what would cost memory.
    static constexpr qint64 kMaxMetaRecordBytes = 1 << 20;

    void checkIntegrity(const Block& header)
    {
        if (formatChecksum(checksumOf(header)) != headerChecksumField(header))
            fail("Failed checking header integrity: " + tarPath);
    }

    qint64 sizeOf(const Block& header, const QString& name)
    {
        const std::optional<qint64> size = entrySize(header);
        if (!size)
            fail("Invalid size in the header of entry: " + name);
        return *size;
    }

    // The data of a GNU long-name record or a pax extended header, padding included.
    QByteArray readMetaRecord(qint64 size)
    {
        if (size > kMaxMetaRecordBytes)
            fail("Invalid long name or extended header in .tar file: " + tarPath);
        if (size > archiveSize - archive.pos())
            fail("Tar file is incomplete/truncated. Could not read header: " + tarPath);
        QByteArray data(size, Qt::Uninitialized);
        if (!readFully(data.data(), size))
            fail("Tar file is incomplete/truncated. Could not read header: " + tarPath);
        skipForward(paddingFor(size), "Error when skipping to the next header in .tar file: " + tarPath);
        return data;
    }

    // The next entry with the name and size that GNU long-name records ("L") and pax extended
    // headers ("x") before it give it; nothing at the end of the archive. Whatever it returns
    // has passed every check that does not depend on the destination folder.
    std::optional<Entry> nextEntry()
    {
        std::optional<QByteArray> longName;
        std::optional<PaxRecords> pax;
        for (;;) {
            Block header;
            if (!readFully(header.data(), qint64(header.size())))
                fail("Tar file is incomplete/truncated. Could not read header: " + tarPath);
            if (isEndBlock(header))
                return std::nullopt;
            checkIntegrity(header);
            const char type = header[kTypeflagOffset];
            switch (type) {
            case 'L': { // GNU: the next entry's name, NUL-terminated
                const QByteArray data = readMetaRecord(sizeOf(header, QStringLiteral("././@LongLink")));
                longName = data.left(data.indexOf('\0') < 0 ? data.size() : data.indexOf('\0'));
                continue;
            }
            case 'K': // GNU: the next entry's link target, of no use without links
            case 'g': // pax: defaults for every later entry; none of them names or sizes one
                readMetaRecord(sizeOf(header, QStringLiteral("././@LongLink")));
                continue;
            case 'x':
                pax = parsePax(readMetaRecord(sizeOf(header, QStringLiteral("PaxHeader"))));
                if (!pax)
                    fail("Invalid extended header in .tar file: " + tarPath);
                continue;
            default:
                break;
            }
            const QByteArray nameBytes = pax && pax->path ? *pax->path : longName ? *longName : headerName(header);
            if (nameBytes.isEmpty())
                fail("Refusing to extract an entry without a name in .tar file: " + tarPath);
            const std::optional<QString> name = utf8Name(nameBytes);
            if (!name)
                fail("Refusing to extract an entry whose name is not UTF-8 text: "
                     + QString::fromUtf8(nameBytes).replace(QChar(u'\0'), u'?'));
            if (!staysInside(*name))
                fail("Refusing to extract an entry outside the folder of the .tar file: " + *name);
            const qint64 size = pax && pax->size ? *pax->size : sizeOf(header, *name);
            return Entry{*name, size, type};
        }
    }

    void checkAllHeaders()
    {
        for (;;) {
            const std::optional<Entry> entry = nextEntry();
            if (!entry)
                return;
            skipForward(entry->size, "Tar file is incomplete/truncated. Could not read data for file: " + entry->name);
            skipForward(paddingFor(entry->size), "Error when skipping to the next header in .tar file: " + tarPath);
            if (archive.pos() >= archiveSize)
                return;
        }
    }

    void extractEntry(const Entry& entry)
    {
        const QString& name = entry.name;
        const QString path = destination + u'/' + name;
        if (somethingAt(path))
            fail("File already exists: " + name);

        switch (entry.type) {
        case '5':
            if (!QDir().mkdir(path))
                fail("Could not create directory: " + name);
            skipForward(entry.size, "Tar file is incomplete/truncated. Could not read data for file: " + name);
            break;
        case '\0':
        case '0':
            extractFile(path, name, entry.size);
            break;
        default:
            skipForward(entry.size, "Tar file is incomplete/truncated. Could not read data for file: " + name);
            break;
        }
        skipForward(paddingFor(entry.size), "Error when skipping to the next header in .tar file: " + tarPath);
    }

    static std::array<char, 7> headerChecksumField(const Block& header)
    {
        std::array<char, 7> stored{};
        std::memcpy(stored.data(), header.data() + kChecksumOffset, stored.size());
        return stored;
    }

    void extractFile(const QString& path, const QString& name, qint64 size)
    {
        PartFile out(path);
        if (!out.open()) {
            const QString parent = QFileInfo(path).path();
            if (!QDir().mkpath(parent))
                fail("Could not create directory: " + parent);
            if (!out.open())
                fail("Could not create file: " + name);
        }
        QFile& file = out.device();
        QString reason;
        for (qint64 remaining = size; remaining > 0;) {
            const qint64 chunk = std::min<qint64>(remaining, kCopyChunkSize);
            if (!readFully(buffer.get(), chunk))
                fail("Tar file is incomplete/truncated. Could not read data for file: " + name);
            if (!writeAll(file, QByteArrayView(buffer.get(), chunk), reason))
                fail("Could not write to file: " + name + ". " + reason);
            remaining -= chunk;
        }
        if (!flushAll(file, reason))
            fail("Could not close file: " + name + ". " + reason);
        if (!out.commit())
            fail("Could not create file: " + name + ". " + QString::fromLocal8Bit(std::strerror(errno)));
    }

    bool readFully(char* data, qint64 length)
    {
        while (length > 0) {
            const qint64 got = archive.read(data, length);
            if (got <= 0)
                return false;
            data += got;
            length -= got;
        }
        return true;
    }

    // Only ever forward and never past the end, whatever a header claims.
    void skipForward(qint64 length, const QString& failure)
    {
        const qint64 target = archive.pos() + length;
        if (length < 0 || target > archiveSize || !archive.seek(target))
            fail(failure);
    }

    const QString tarPath;
    QFile archive;
    const qint64 archiveSize;
    ExtractionProgress progress;
    const std::unique_ptr<char[]> buffer;
    QString destination;
};

} // namespace

QStringList extractTar(const QString& tarPath)
{
    return TarExtraction(tarPath).run();
}
