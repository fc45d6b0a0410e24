#include "project/binary_read.h"

#include <QBuffer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

namespace {

QByteArray countField(qint32 count)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(count, bytes.data());
    return bytes;
}

QByteArray utf16Record(const QString& text)
{
    QByteArray bytes = countField(qint32(text.size()));
    for (QChar c : text) {
        char unit[2];
        qToLittleEndian(c.unicode(), unit);
        bytes.append(unit, 2);
    }
    return bytes;
}

// A pipe-like device: no known size, so the count cannot be checked up front.
class StreamDevice : public QIODevice {
public:
    explicit StreamDevice(QByteArray data) : data_(std::move(data)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return data_.size() - offset_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* out, qint64 maxSize) override
    {
        const qint64 n = std::min(maxSize, data_.size() - offset_);
        std::memcpy(out, data_.constData() + offset_, size_t(n));
        offset_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 offset_ = 0;
};

} // namespace

TEST(ReadUtf16String, ReadsConsecutiveRecords)
{
    const QString nonAscii = QString::fromUtf8("Küche \U0001F600");
    QByteArray data = utf16Record("ZTM4") + utf16Record(nonAscii) + countField(0) + utf16Record("x");
    QBuffer buffer(&data);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    EXPECT_EQ(readUtf16String(buffer, "d"), QString("ZTM4"));
    EXPECT_EQ(readUtf16String(buffer, "d"), nonAscii);
    EXPECT_EQ(readUtf16String(buffer, "d"), QString("d")); // empty record
    EXPECT_EQ(readUtf16String(buffer, "d"), QString("x"));
    EXPECT_EQ(readUtf16String(buffer, "d"), QString("d")); // nothing left
}

TEST(ReadUtf16String, BadCountsGiveTheDefault)
{
    const struct {
        QByteArray data;
        qint64 positionAfter;
    } cases[] = {
        {QByteArray("\x01\x00", 2), 2},                 // count cut short
        {countField(-5) + "abcd", 4},                   // negative count
        {countField(3) + QByteArray("a\0b\0", 4), 8},   // text cut short: consumed anyway
        {countField(INT32_MAX) + "ab", 6},              // far more than is left: refused
        {countField(INT32_MIN) + "ab", 4},
    };
    for (const auto& c : cases) {
        QByteArray data = c.data;
        QBuffer buffer(&data);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        EXPECT_EQ(readUtf16String(buffer, "fallback"), QString("fallback")) << data.toHex().toStdString();
        EXPECT_EQ(buffer.pos(), c.positionAfter) << data.toHex().toStdString();
    }
}

TEST(ReadUtf16String, HugeCountOnAStreamReadsOnlyWhatArrives)
{
    StreamDevice stream(countField(INT32_MAX) + QByteArray(1000, 'a'));
    EXPECT_EQ(readUtf16String(stream, "fallback"), QString("fallback"));
    EXPECT_TRUE(stream.atEnd());

    StreamDevice exactStream(utf16Record("pipe") + "rest");
    EXPECT_EQ(readUtf16String(exactStream, "fallback"), QString("pipe"));
    EXPECT_EQ(exactStream.readAll(), QByteArray("rest"));
}
