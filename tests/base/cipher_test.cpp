#include "base/aes.h"
#include "base/cipher.h"
#include "base/secure_wipe.h"
#include "support/test_support.h"
#include <QSet>
#include <gtest/gtest.h>
#include <cstring>
#include <stdexcept>
#include <vector>

using testsupport::pseudoRandomBytes;

namespace {

constexpr char kKinds[] = {CipherKind::Data, CipherKind::Draft, CipherKind::SvgPlan, CipherKind::DxfPlan};
constexpr AesImplementation kPaths[] = {AesImplementation::Portable, AesImplementation::Hardware,
                                        AesImplementation::HardwareWide};

const std::uint8_t* u8(const QByteArray& a) { return reinterpret_cast<const std::uint8_t*>(a.constData()); }
std::uint8_t* u8(QByteArray& a) { return reinterpret_cast<std::uint8_t*>(a.data()); }

// Restores the AES path that was active when the test began.
struct PathGuard {
    AesImplementation saved = aesActiveImplementation();
    ~PathGuard() { aesSelectImplementation(saved); }
};

QByteArray kindKey(char kind)
{
    QByteArray key(16, '\0');
    buildCipherKey(kind, u8(key));
    return key;
}

QByteArray opensslCbc(bool decrypt, char kind, const QByteArray& iv, const QByteArray& input)
{
    if (input.isEmpty())
        return {};
    const QStringList args = {"enc", decrypt ? "-d" : "-e", "-aes-128-cbc", "-nopad",
                              "-K", kindKey(kind).toHex(), "-iv", iv.toHex()};
    const testsupport::ProcessResult r = testsupport::runProcess("openssl", args, input);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return r.out;
}

} // namespace

// FIPS-197 C.1 and SP 800-38A F.2.1/F.2.2 on every path; then every block count up to 40 (all remainders
// after groups of 8 and 16) and 4099, overlapped as the envelope does, against the portable path.
TEST(AesLayer, EveryPathPassesKnownAnswersAndAgreesWithThePortableOne)
{
    const QByteArray key = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                                 "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const QByteArray cipher = QByteArray::fromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                                  "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    PathGuard guard;
    std::vector<QByteArray> portable;
    for (AesImplementation path : kPaths) {
        if (!aesSelectImplementation(path))
            continue;
        SCOPED_TRACE(testing::Message() << "path " << int(path));
        AesContext c1, k;
        aesInit(c1, u8(iv)); // C.1's key is 000102...0f
        aesInit(k, u8(key));
        QByteArray block = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        aesEncryptBlock(c1, u8(block));
        EXPECT_EQ(block.toHex(), "69c4e0d86a7b0430d8cdb78070b4c55a");
        aesDecryptBlock(c1, u8(block));
        EXPECT_EQ(block.toHex(), "00112233445566778899aabbccddeeff");
        QByteArray chain = iv, out(64, '\0');
        ASSERT_EQ(aesCbcEncrypt(k, u8(plain), u8(out), u8(chain), 64), 0);
        EXPECT_EQ(out, cipher);
        EXPECT_EQ(chain, iv);
        // Deciphered in two pieces: the IV buffer carries the chain from one to the next.
        ASSERT_EQ(aesCbcDecrypt(k, u8(cipher), u8(out), u8(chain), 16), 0);
        ASSERT_EQ(aesCbcDecrypt(k, u8(cipher) + 16, u8(out) + 16, u8(chain), 48), 0);
        EXPECT_EQ(out + chain, plain + cipher.right(16));
        for (size_t partial : {1u, 15u, 17u, 47u}) { // refused without writing, not overrunning `out`
            QByteArray guarded(80, '\x5a');
            chain = iv;
            EXPECT_EQ(aesCbcEncrypt(k, u8(plain), u8(guarded), u8(chain), partial), -1) << partial;
            EXPECT_EQ(aesCbcDecrypt(k, u8(plain), u8(guarded), u8(chain), partial), -1) << partial;
            EXPECT_EQ(guarded + chain, QByteArray(80, '\x5a') + iv) << partial;
        }
        for (qsizetype blocks = 0; blocks <= 41; ++blocks) {
            const qsizetype length = 16 * (blocks == 41 ? 4099 : blocks);
            const QByteArray random = pseudoRandomBytes(length, quint32(blocks));
            QByteArray buffer = random + QByteArray(16, '\0'); // shifted one block up, then back down
            chain = iv;
            ASSERT_EQ(aesCbcEncrypt(k, u8(buffer), u8(buffer) + 16, u8(chain), size_t(length)), 0);
            if (path == AesImplementation::Portable)
                portable.push_back(buffer.mid(16));
            EXPECT_EQ(buffer.mid(16), portable[size_t(blocks)]) << length;
            ASSERT_EQ(aesCbcDecrypt(k, u8(buffer) + 16, u8(buffer), u8(chain), size_t(length)), 0);
            EXPECT_EQ(buffer.left(length), random) << length;
        }
    }
}

TEST(AesLayer, OffersThePathsTheProcessorHasAndWipesKeyMaterial)
{
    // The processor's own word on its instructions, read apart from the code under test.
    QByteArray flags;
    for (const QByteArray& line : testsupport::readFile("/proc/cpuinfo").split('\n'))
        if (flags.isEmpty() && line.startsWith("flags"))
            flags = line.mid(line.indexOf(':') + 1) + ' ';
    const bool aes = flags.contains(" aes ");
    const bool wide = aes && flags.contains(" vaes ") && flags.contains(" avx2 ");
    EXPECT_EQ(aesImplementationSupported(AesImplementation::Hardware), aes);
    EXPECT_EQ(aesImplementationSupported(AesImplementation::HardwareWide), wide);
    PathGuard guard;
    ASSERT_TRUE(aesSelectImplementation(AesImplementation::Portable));
    EXPECT_STREQ(aesImplementationName(), "portable C++");
    EXPECT_EQ(aesSelectImplementation(AesImplementation::Hardware), aes); // an unsupported path changes nothing
    EXPECT_STREQ(aesImplementationName(), aes ? "INTEL AES-NI" : "portable C++");

    AesContext ctx;
    aesInit(ctx, u8(pseudoRandomBytes(16, 3)));
    aesClear(ctx);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(ctx.roundKeys), 176), QByteArray(176, '\0'));
    char secret[32];
    std::memset(secret, 0xa7, sizeof secret);
    EXPECT_ANY_THROW({
        WipeOnExit wipe(secret, sizeof secret);
        throw std::runtime_error("unwinding");
    });
    EXPECT_EQ(QByteArray(secret, sizeof secret), QByteArray(sizeof secret, '\0'));
}

// openssl reads the whole blocks of every envelope and writes bodies the envelope reads, for every
// tail length, both writers, all four kinds and every path in turn.
TEST(Envelope, InteroperatesWithOpensslForEveryLength)
{
    if (!testsupport::haveTool("openssl") && qEnvironmentVariable("CI") != QLatin1String("true"))
        GTEST_SKIP() << "openssl is not installed";
    PathGuard guard;
    for (qsizetype n = 0; n <= 101; ++n) {
        const qsizetype length = n == 101 ? 3 * 1024 * 1024 + 7 : n;
        const qsizetype whole = length - length % 16;
        const char kind = kKinds[n % 4];
        SCOPED_TRACE(testing::Message() << length << " bytes, kind " << int(kind));
        aesSelectImplementation(kPaths[n % 3]); // an unsupported path leaves the last one
        const QByteArray content = pseudoRandomBytes(length, quint32(n));
        QByteArray envelope = n % 2 ? QByteArray("stale output to be replaced") : content;
        ASSERT_TRUE(n % 2 ? encipherBytesTo(content, envelope, kind) : encipherBytes(envelope, kind));
        ASSERT_EQ(envelope.size(), length + 16);
        EXPECT_EQ(opensslCbc(true, kind, envelope.left(16), envelope.mid(16, whole)), content.left(whole));
        EXPECT_EQ(envelope.mid(16 + whole), content.mid(whole));

        const QByteArray iv = pseudoRandomBytes(16, quint32(n) + 1000);
        QByteArray written = iv + opensslCbc(false, kind, iv, content.left(whole)) + content.mid(whole);
        ASSERT_TRUE(decipherBytes(written, kind));
        EXPECT_EQ(written, content);
    }
}

TEST(Envelope, FreshIvEveryTimeDistinctKindKeysAndSharedBytesNeverWrittenThrough)
{
    const QByteArray content = pseudoRandomBytes(1000, 9);
    const QByteArray original(content.constData(), content.size()); // deep: a shared copy would hide a write
    QSet<QByteArray> ivs;
    for (int i = 0; i < 64; ++i) { // all well within one second
        QByteArray copy = content, sharing = content;
        encipherBytes(copy, CipherKind::Data);
        encipherBytesTo(content, sharing, CipherKind::Data);
        const QByteArray iv = sharing.left(16);
        ivs.insert(iv);
        QByteArray reader = sharing;
        ASSERT_TRUE(decipherBytes(reader, CipherKind::Data));
        EXPECT_EQ(reader + sharing.left(16), original + iv);
    }
    EXPECT_EQ(ivs.size(), 64);
    EXPECT_EQ(content, original);
    const QSet<QByteArray> keys = {kindKey(kKinds[0]), kindKey(kKinds[1]), kindKey(kKinds[2]), kindKey(kKinds[3])};
    EXPECT_EQ(keys.size(), 4);
    for (qsizetype n = 0; n < 16; ++n) { // shorter than an IV: refused, left as it was
        QByteArray data = pseudoRandomBytes(n, 1);
        EXPECT_FALSE(decipherBytes(data, CipherKind::Data)) << n;
        EXPECT_EQ(data, pseudoRandomBytes(n, 1));
    }
}
