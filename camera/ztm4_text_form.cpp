// The text form of the laser-line camera's calibration: one value per line, the number first
// and a comment naming it after a tab.

#include "camera/cam_params_ztm4.h"

#include "camera/calibration_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {
constexpr int kIntegerCount = 11;
constexpr int kSerialLineLimit = 23;
const char* const kLaserValueNames[CamParamsZTM4::kLaserValueCount] = {"PN", "NX", "NY", "NZ", "A0", "A1",
                                                                       "A2", "A3", "A4", "A5", "UMIN", "UMAX"};

// The lines of the file, each without its line feed (and carriage return).
class LineReader {
public:
    explicit LineReader(const QByteArray& bytes) : m_bytes(bytes) {}

    bool next(QByteArray& line)
    {
        if (m_at >= m_bytes.size())
            return false;
        qsizetype end = m_bytes.indexOf('\n', m_at);
        const qsizetype after = end < 0 ? m_bytes.size() : end + 1;
        if (end < 0)
            end = m_bytes.size();
        line = m_bytes.mid(m_at, end - m_at);
        if (line.endsWith('\r'))
            line.chop(1);
        m_at = after;
        return true;
    }

    qsizetype linesLeft() const
    {
        if (m_at >= m_bytes.size())
            return 0;
        const qsizetype feeds = m_bytes.count('\n') - m_bytes.left(m_at).count('\n');
        return feeds + (m_bytes.endsWith('\n') ? 0 : 1);
    }

    // The line's leading number; what follows it is a comment.
    bool integer(int32_t& value)
    {
        QByteArray line;
        int64_t wide = 0;
        if (!next(line) || std::from_chars(start(line), line.constData() + line.size(), wide).ec != std::errc())
            return false;
        if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max())
            return false;
        value = static_cast<int32_t>(wide);
        return true;
    }

    // Only a value that both precisions can hold: anything else would poison the lens model.
    bool real(double& value)
    {
        QByteArray line;
        if (!next(line) || std::from_chars(start(line), line.constData() + line.size(), value).ec != std::errc())
            return false;
        return std::isfinite(value) && std::isfinite(static_cast<float>(value));
    }

private:
    static const char* start(const QByteArray& line)
    {
        const char* p = line.constData();
        const char* end = p + line.size();
        while (p != end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p != end && *p == '+')
            ++p;
        return p;
    }

    const QByteArray& m_bytes;
    qsizetype m_at = 0;
};
} // namespace

bool CamParamsZTM4::saveTextFile(const QString& path)
{
    std::string text = std::to_string(fileStamp) + "\n";
    if (fileStamp != kOlderStamp)
        text += systemSerial() + "\n";
    const int32_t integers[kIntegerCount] = {TIMESTAMP, IMGWIDTH, IMGHEIGHT, NUM_LASERS, CENT_COLOR,
                                             CENT_THRESHOLD, CENT_MINPEAK, CENT_MAXPEAK, CENT_MINSIDEPIX,
                                             CENT_MAXSIDEPIX, COMPASS_FACTOR};
    for (int i = 0; i < kIntegerCount; ++i)
        text += std::to_string(integers[i]) + "\t# " + intKeyName(i) + "\n";
    for (int i = 0; i < LensTermCount; ++i)
        text += lensTermText(lensDouble[i], lensFloat[i]) + "\t# " + doubleKeyName(i) + "\n";
    for (size_t laser = 0; laser < m_lasers.size(); ++laser)
        for (int k = 0; k < kLaserValueCount; ++k)
            text += calibrationText(m_lasers[laser][size_t(k)]) + "\t# L" + std::to_string(laser + 1) + ": "
                + kLaserValueNames[k] + "\n";
    for (int i = 0; i < CalibrationValueCount; ++i)
        text += calibrationText(calibFloat[i]) + "\t# " + floatKeyName(i) + "\n";

    return replaceWholeFile(path, QByteArray::fromStdString(text));
}

bool CamParamsZTM4::loadTextFile(const QString& path)
{
    const auto refuse = [this] {
        setDefaults();
        return false;
    };
    QByteArray bytes;
    if (readWholeFile(path, bytes) != FileRead::Ok)
        return refuse();
    LineReader lines(bytes);
    int32_t stamp = 0;
    if (!lines.integer(stamp) || (uint32_t(stamp) != kStamp && uint32_t(stamp) != kOlderStamp))
        return refuse();
    fileStamp = uint32_t(stamp);
    std::memset(serial, 0, sizeof serial);
    if (fileStamp == kStamp) {
        QByteArray line;
        if (!lines.next(line))
            return refuse();
        std::memcpy(serial, line.constData(), size_t(std::min<qsizetype>(line.size(), kSerialLineLimit)));
    }
    int32_t* const integers[kIntegerCount] = {&TIMESTAMP, &IMGWIDTH, &IMGHEIGHT, &NUM_LASERS, &CENT_COLOR,
                                              &CENT_THRESHOLD, &CENT_MINPEAK, &CENT_MAXPEAK, &CENT_MINSIDEPIX,
                                              &CENT_MAXSIDEPIX, &COMPASS_FACTOR};
    for (int32_t* value : integers)
        if (!lines.integer(*value))
            return refuse();
    // The first cameras had three lasers, whatever their files say.
    const int32_t lasers = fileStamp == kOlderStamp ? 3 : NUM_LASERS;
    for (int i = 0; i < LensTermCount; ++i) {
        double value = 0;
        if (!lines.real(value))
            return refuse();
        lensDouble[i] = value;
        lensFloat[i] = static_cast<float>(value);
    }
    // Each laser takes twelve lines: a count the file cannot hold gets no table.
    if (lasers < 0 || lasers > lines.linesLeft() / kLaserValueCount)
        return refuse();
    resizeLasers(lasers);
    for (int laser = 0; laser < lasers; ++laser)
        for (int k = 0; k < kLaserValueCount; ++k) {
            double value = 0;
            if (!lines.real(value))
                return refuse();
            setLaserValue(laser, k, value);
        }
    for (int i = 0; i < CalibrationValueCount; ++i) {
        double value = 0;
        if (!lines.real(value))
            return refuse();
        calibDouble[i] = value;
        calibFloat[i] = static_cast<float>(value);
    }
    if (fileStamp == kOlderStamp) {
        calibDouble[LENS_FOV] = 3.229;
        calibFloat[LENS_FOV] = 3.229f;
    }
    return true;
}
