#include "base/binary_read.h"
#include <QBuffer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

QByteArray countField(qint32 count)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(count, bytes.data());
    return bytes;
}

QByteArray utf16Record(const QString& text)
{
    QByteArray units(text.size() * 2, '\0');
    qToLittleEndian<char16_t>(text.utf16(), text.size(), units.data());
    return countField(qint32(text.size())) + units;
}

} // namespace

TEST(ReadUtf16String, ReadsRecordsInTurnAndGivesTheDefaultForBadCounts)
{
    const QString nonAscii = QString::fromUtf8("Küche \U0001F600");
    const std::tuple<QByteArray, QStringList, qint64> cases[] = {
        {utf16Record("ZTM4") + utf16Record(nonAscii) + countField(0) + utf16Record("x"),
         {"ZTM4", nonAscii, "d", "x", "d"}, 42},
        {QByteArray("\x01\x00", 2), {"d"}, 2},               // count cut short
        {countField(-5) + "abcd", {"d"}, 4},                 // negative count
        {countField(3) + QByteArray("a\0b\0", 4), {"d"}, 8}, // text cut short: consumed anyway
        {countField(INT32_MAX) + "ab", {"d"}, 6},            // far more than is left: refused before reading
        {countField(INT32_MIN) + "ab", {"d"}, 4},
    };
    for (const auto& [bytes, expected, positionAfter] : cases) {
        QByteArray data = bytes;
        QBuffer buffer(&data);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        for (const QString& text : expected)
            EXPECT_EQ(readUtf16String(buffer, "d"), text) << data.toHex().toStdString();
        EXPECT_EQ(buffer.pos(), positionAfter) << data.toHex().toStdString();
    }
}

namespace {
// A device that cannot tell its size up front, as a pipe; it hands out at most 3 bytes a read.
class Stream : public QIODevice {
public:
    explicit Stream(QByteArray* data) : m_data(*data) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 n = std::min<qint64>({max, 3, m_data.size() - m_at});
        std::memcpy(out, m_data.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_at = 0;
};
} // namespace

TEST(ReadAllWithin, GivesTheRestUpToTheLimitAndNothingForMoreFromFilesAndStreams)
{
    const QByteArray bytes = "0123456789";
    for (bool sequential : {false, true}) {
        SCOPED_TRACE(sequential ? "stream" : "file");
        const auto from = [&](qint64 skip, qint64 limit) {
            QByteArray data = bytes;
            std::unique_ptr<QIODevice> device;
            if (sequential)
                device = std::make_unique<Stream>(&data);
            else
                device = std::make_unique<QBuffer>(&data);
            device->open(QIODevice::ReadOnly);
            for (qint64 left = skip; left > 0;)
                left -= device->read(left).size();
            return readAllWithin(*device, limit);
        };
        EXPECT_EQ(from(0, 10), bytes);
        EXPECT_EQ(from(3, 7), "3456789") << "the rest from where the device stands";
        EXPECT_EQ(from(0, 9), std::nullopt);
        EXPECT_EQ(from(10, 0), QByteArray());
    }
}
