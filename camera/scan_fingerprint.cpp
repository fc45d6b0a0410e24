#include "camera/scan_fingerprint.h"

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Size as the end position of the opened file; -1 when it cannot be opened.
int64_t endPosition(const std::string& path)
{
    const QByteArray native = QFile::encodeName(QString::fromStdWString(toWidePath(path)));
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return static_cast<int64_t>(end);
}
} // namespace

std::wstring toWidePath(const std::string& path)
{
    return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())).toStdWString();
}

Sha1::Digest sha1OfFile(const std::string& path)
{
    Sha1 sha1;
    sha1.hashFile(toWidePath(path).c_str());
    return sha1.digest();
}

std::string toHex(const uint8_t digest[20])
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(40, '0');
    for (size_t i = 0; i < 20; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return text;
}

std::string sha1HexOfFile(const std::string& path)
{
    return toHex(sha1OfFile(path).data());
}

std::string sha1OfFiles(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return {};
    Sha1::Digest sum = sha1OfFile(paths.front());
    for (size_t i = 1; i < paths.size(); ++i) {
        const Sha1::Digest digest = sha1OfFile(paths[i]);
        for (size_t k = 0; k < sum.size(); ++k)
            sum[k] = static_cast<uint8_t>(sum[k] + digest[k]);
    }
    return toHex(sum.data());
}

std::vector<std::string> listScanFiles(const std::string& folder, int count, const char* prefix, const char* suffix)
{
    std::vector<std::string> files;
    for (int n = 1; n <= count; ++n) {
        std::string path = folder + prefix + std::to_string(n) + suffix;
        if (endPosition(path) != 0)
            files.push_back(std::move(path));
    }
    return files;
}

std::string scanFingerprint(const std::string& scanFolder, int count)
{
    const std::vector<std::string> lidarFiles = listScanFiles(scanFolder, count, "/pts", ".dat");
    if (!lidarFiles.empty())
        return sha1OfFiles(lidarFiles);
    const std::vector<std::string> lensImages = listScanFiles(scanFolder, count, "/h", ".jpg");
    if (!lensImages.empty())
        return sha1OfFiles(lensImages);
    return {};
}

std::string computeScanHash(const std::string& scanFolder, int count)
{
    return scanFingerprint(scanFolder, count);
}
