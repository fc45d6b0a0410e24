#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "camera/scan_fingerprint.h"

#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {
const std::string kZeros(40, '0');

// Byte-wise sum of sha1sum digests, worked out from sha1sum's own output.
std::string digestSum(const QStringList& files)
{
    QByteArray sum(20, '\0');
    for (const QString& file : files) {
        const QByteArray digest = QByteArray::fromHex(sha1sumOf(file).toLatin1());
        for (int i = 0; i < 20; ++i)
            sum[i] = char(uint8_t(sum[i]) + uint8_t(digest[i]));
    }
    return sum.toHex().toStdString();
}

class ScanFingerprint : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        scan = dir.filePath("Scän 7");
        ASSERT_TRUE(QDir().mkpath(scan));
    }
    QString file(const QString& name) const { return scan + "/" + name; }
    void put(const QString& name, qsizetype size, quint32 seed) { writeFile(file(name), pseudoRandomBytes(size, seed)); }
    std::string folder() const { return scan.toStdString(); }

    QTemporaryDir dir;
    QString scan;
    CamParamsZTM6 twoLens;
};
} // namespace

TEST_F(ScanFingerprint, SumOfDigestsDoesNotDependOnOrder)
{
    put("a", 70000, 1);
    put("b", 1234, 2);
    const std::string a = file("a").toStdString(), b = file("b").toStdString();
    const std::string expected = digestSum({file("a"), file("b")});
    EXPECT_EQ(sha1OfFiles({a, b}), expected);
    EXPECT_EQ(sha1OfFiles({b, a}), expected);
    EXPECT_EQ(sha1OfFiles({a, file("missing").toStdString()}), sha1sumOf(file("a")).toStdString());
    EXPECT_EQ(sha1OfFiles({}), "");
    EXPECT_EQ(sha1HexOfFile(a), sha1sumOf(file("a")).toStdString());
    EXPECT_EQ(sha1HexOfFile(file("missing").toStdString()), kZeros);
}

TEST_F(ScanFingerprint, BothLidarFilesMakeTheTwoLensFingerprint)
{
    put("pts1.dat", 16004, 11);
    put("pts2.dat", 8004, 12);
    put("h1.jpg", 900, 13);
    const std::string both = twoLens.scanHash(folder());
    EXPECT_EQ(both, digestSum({file("pts1.dat"), file("pts2.dat")}));

    // Swapping the lenses' contents gives the same fingerprint.
    ASSERT_TRUE(QFile::rename(file("pts1.dat"), file("tmp")));
    ASSERT_TRUE(QFile::rename(file("pts2.dat"), file("pts1.dat")));
    ASSERT_TRUE(QFile::rename(file("tmp"), file("pts2.dat")));
    EXPECT_EQ(twoLens.scanHash(folder()), both);
}

TEST_F(ScanFingerprint, MissingLidarFilesCountAsZero)
{
    put("h1.jpg", 900, 13);
    put("h2.jpg", 901, 14);
    EXPECT_EQ(twoLens.scanHash(folder()), kZeros);

    put("pts1.dat", 4004, 15);
    EXPECT_EQ(twoLens.scanHash(folder()), sha1sumOf(file("pts1.dat")).toStdString());
}

TEST_F(ScanFingerprint, EmptyLidarFilesFallBackToTheLensImages)
{
    writeFile(file("pts1.dat"), {});
    writeFile(file("pts2.dat"), {});
    EXPECT_EQ(twoLens.scanHash(folder()), kZeros); // both images missing: listed, zero digests
    put("h1.jpg", 900, 13);
    put("h2.jpg", 2000, 14);
    EXPECT_EQ(twoLens.scanHash(folder()), digestSum({file("h1.jpg"), file("h2.jpg")}));
    writeFile(file("h1.jpg"), {});
    writeFile(file("h2.jpg"), {});
    EXPECT_EQ(twoLens.scanHash(folder()), "");
}

TEST_F(ScanFingerprint, OneLensModelsHashTheirOwnWay)
{
    put("pts1.dat", 3004, 21);
    put("pts2.dat", 3004, 22);
    CamParamsZTM5 ztm5;
    EXPECT_EQ(ztm5.scanHash(folder()), sha1sumOf(file("pts1.dat")).toStdString());
    CamParamsZTM4 ztm4;
    EXPECT_EQ(ztm4.scanHash(folder()), "");
}

TEST_F(ScanFingerprint, NumberedFilesKeepTheirOrder)
{
    writeFile(file("pts2.dat"), {});
    put("pts3.dat", 10, 1);
    const std::vector<std::string> listed = listScanFiles(folder(), 3, "/pts", ".dat");
    const std::vector<std::string> expected = {file("pts1.dat").toStdString(), file("pts3.dat").toStdString()};
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(listScanFiles(folder(), 0, "/pts", ".dat").empty());
}
