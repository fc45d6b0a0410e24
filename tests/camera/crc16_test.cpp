#include "camera/crc16.h"

#include "support/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;

namespace {
uint16_t crcOf(const QByteArray& data)
{
    return computeCrc16(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<uint32_t>(data.size()));
}

// The two bytes a calibration file's trailer holds for this CRC value.
QByteArray storedBytes(uint16_t crc)
{
    QByteArray bytes(2, '\0');
    std::memcpy(bytes.data(), &crc, 2);
    return bytes;
}
} // namespace

TEST(Crc16, CheckValueIsStoredHighByteFirst)
{
    EXPECT_EQ(storedBytes(crcOf("123456789")).toHex(), "906e");
    EXPECT_EQ(crcOf({}), 0);
}

TEST(Crc16, AgreesWithCrcmodOnRandomData)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const qsizetype lengths[] = {1, 2, 3, 31, 132, 226, 298, 1000, 65536 + 7};
    QStringList files;
    QList<QByteArray> buffers;
    for (qsizetype length : lengths) {
        buffers.append(pseudoRandomBytes(length, quint32(length) * 2654435761u));
        files.append(dir.filePath(QString("data%1.bin").arg(length)));
        writeFile(files.last(), buffers.last());
    }
    const char* program = "import sys, crcmod.predefined\n"
                          "crc = crcmod.predefined.mkCrcFun('x-25')\n"
                          "for path in sys.argv[1:]:\n"
                          "    print(crc(open(path, 'rb').read()).to_bytes(2, 'big').hex())\n";
    const ProcessResult result = runProcess(systemPython(), QStringList{"-c", program} + files);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QList<QByteArray> expected = result.out.trimmed().split('\n');
    ASSERT_EQ(expected.size(), buffers.size());
    for (qsizetype i = 0; i < buffers.size(); ++i)
        EXPECT_EQ(storedBytes(crcOf(buffers[i])).toHex(), expected[i]) << "length " << buffers[i].size();
}
