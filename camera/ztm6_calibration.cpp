#include "base/crc16.h"
#include "camera/cam_params_ztm6.h"

#include <QDebug>
#include <QFile>

#include <array>
#include <cstring>
#include <sstream>

namespace {
constexpr int32_t kVersionOld = 60001;
constexpr int32_t kVersionCurrent = 60002;
constexpr qint64 kTrailerSize = 2;

std::string serializeBlock(const Ztm6Header& header, const std::vector<Ztm6LensRecord>& lenses)
{
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    if (!lenses.empty())
        bytes.append(reinterpret_cast<const char*>(lenses.data()), lenses.size() * sizeof(Ztm6LensRecord));
    return bytes;
}

// The trailer as it lies on disk: CRC high byte first.
std::array<uint8_t, 2> trailerFor(const std::string& block)
{
    const uint16_t swapped = computeCrc16(reinterpret_cast<const uint8_t*>(block.data()),
                                          static_cast<uint32_t>(block.size()));
    return {static_cast<uint8_t>(swapped & 0xFFu), static_cast<uint8_t>(swapped >> 8)};
}

// The camera pads its texts with NULs but does not promise the last one.
void terminateTexts(Ztm6Header& header)
{
    header.SYSTEM_SERIAL[sizeof header.SYSTEM_SERIAL - 1] = 0;
    header.CAMERA_MODEL[sizeof header.CAMERA_MODEL - 1] = 0;
    header.CAMERA_SERIAL[sizeof header.CAMERA_SERIAL - 1] = 0;
    header.CAMERA_FW[sizeof header.CAMERA_FW - 1] = 0;
}

bool readExactly(QFile& file, void* target, qint64 size)
{
    return file.read(static_cast<char*>(target), size) == size;
}
} // namespace

bool CamParamsZTM6::loadTextFile(const QString&)
{
    return false;
}

bool CamParamsZTM6::saveTextFile(const QString& path)
{
    return writeParameterText(path);
}

bool CamParamsZTM6::loadSystemFile(const QString& path)
{
    return readParameterBlock(path.toStdWString());
}

bool CamParamsZTM6::saveSystemFile(const QString& path)
{
    return writeParameterBlock(path.toStdWString());
}

std::string CamParamsZTM6::serializeParameterBlock() const
{
    return serializeBlock(m_header, m_lenses);
}

bool CamParamsZTM6::readParameterBlock(const std::wstring& path)
{
    // Everything is read into locals so that a refused file leaves nothing of itself behind.
    QFile file(QString::fromStdWString(path));
    Ztm6Header header{};
    std::vector<Ztm6LensRecord> lenses;
    const bool read = [&] {
        if (!file.open(QIODevice::ReadOnly))
            return false;
        if (!readExactly(file, &header, sizeof header))
            return false;
        if (header.FILE_VERSION != kVersionOld && header.FILE_VERSION != kVersionCurrent)
            return false;
        if (header.NUM_LENS != 1 && header.NUM_LENS != 2)
            return false;
        const qint64 records = header.NUM_LENS;
        const qint64 needed = static_cast<qint64>(sizeof header) + records * qint64(sizeof(Ztm6LensRecord)) + kTrailerSize;
        if (!file.isSequential() && file.size() < needed)
            return false;
        terminateTexts(header);
        lenses.resize(static_cast<size_t>(records));
        for (Ztm6LensRecord& lens : lenses) {
            if (!readExactly(file, &lens, sizeof lens))
                return false;
        }
        uint8_t trailer[kTrailerSize];
        if (!readExactly(file, trailer, kTrailerSize))
            return false;
        file.close();
        if (file.error() != QFileDevice::NoError)
            return false;
        const std::array<uint8_t, 2> expected = trailerFor(serializeBlock(header, lenses));
        return trailer[0] == expected[0] && trailer[1] == expected[1];
    }();
    if (!read) {
        resetParameters();
        return false;
    }
    // A whole, sound file whose values no render can use: the project must not take it for a
    // camera it can process, and the person must learn why.
    if (const std::optional<std::string> reason = unusableCalibration(header, lenses)) {
        qWarning().noquote() << QStringLiteral("The calibration file \"%1\" cannot be used: %2")
                                    .arg(QString::fromStdWString(path), QString::fromStdString(*reason));
        resetParameters();
        return false;
    }
    // The reserved bytes come from the file like the rest of the header.
    m_header = header;
    m_lenses = std::move(lenses);
    return true;
}

bool CamParamsZTM6::writeParameterBlock(const std::wstring& path) const
{
    QFile file(QString::fromStdWString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    std::string bytes = serializeParameterBlock();
    const std::array<uint8_t, 2> trailer = trailerFor(bytes);
    bytes.append(reinterpret_cast<const char*>(trailer.data()), trailer.size());
    const bool written = file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool CamParamsZTM6::writeParameterText(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;

    std::ostringstream text;
    auto line = [&text](const QString& key, const auto& value) { text << key.toStdString() << ": " << value << '\n'; };
    const int32_t headerNumbers[] = {m_header.FILE_VERSION, m_header.TIME_STAMP, m_header.IMG_WIDTH,
                                     m_header.IMG_HEIGHT, m_header.NUM_LENS};
    for (int i = 0; i < m_headerKeys.size(); ++i)
        line(m_headerKeys[i], headerNumbers[i]);
    line("SYSTEM_SERIAL", systemSerial());
    line("CAMERA_MODEL", cameraModel());
    line("CAMERA_SERIAL", cameraSerial());
    line("CAMERA_FW", cameraFirmware());
    line("LENS_CALIBRATED", m_header.LENS_CALIBRATED != 0 ? 1 : 0);
    line("LENS_ALIGNED", m_header.LENS_ALIGNED != 0 ? 1 : 0);
    const float pose[] = {m_header.POSX, m_header.POSY, m_header.POSZ, m_header.ROLL, m_header.PITCH, m_header.YAW};
    for (int i = 0; i < m_poseKeys.size(); ++i)
        line(m_poseKeys[i], pose[i]);
    line("MIN_RANGE", m_header.MIN_RANGE);
    line("MAX_RANGE", m_header.MAX_RANGE);

    // A lens record is its chromatic factors, distortion terms and pose, in that order.
    const QStringList lensKeys = m_chromaticKeys + m_distortionKeys + m_poseKeys;
    static_assert(sizeof(Ztm6LensRecord) == 18 * sizeof(float));
    for (const Ztm6LensRecord& lens : m_lenses) {
        float values[18];
        std::memcpy(values, &lens, sizeof values);
        for (int i = 0; i < lensKeys.size() && i < 18; ++i)
            line(lensKeys[i], values[i]);
    }

    const std::string bytes = text.str();
    const bool written = file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
