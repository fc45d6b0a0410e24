#include "base/binary_read.h"
#include <QBuffer>
#include <QtEndian>
#include <gtest/gtest.h>

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
