#include "project/aes.h"
#include "project/cipher.h"
#include "project/secure_wipe.h"

#include "support/test_support.h"

#include <QSet>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr char kKinds[] = {CipherKind::Data, CipherKind::Draft, CipherKind::SvgPlan, CipherKind::DxfPlan};

const std::uint8_t* u8(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

std::uint8_t* u8(QByteArray& a)
{
    return reinterpret_cast<std::uint8_t*>(a.data());
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Runs the body on every AES path this processor supports and restores the path afterwards.
class ImplementationGuard {
public:
    ImplementationGuard() : m_saved(aesActiveImplementation()) {}
    ~ImplementationGuard() { aesSelectImplementation(m_saved); }

private:
    AesImplementation m_saved;
};

std::vector<AesImplementation> supportedImplementations()
{
    std::vector<AesImplementation> result;
    for (AesImplementation i : {AesImplementation::Portable, AesImplementation::Hardware, AesImplementation::HardwareWide})
        if (aesImplementationSupported(i))
            result.push_back(i);
    return result;
}

const char* label(AesImplementation i)
{
    switch (i) {
    case AesImplementation::Portable:
        return "portable";
    case AesImplementation::Hardware:
        return "hardware";
    case AesImplementation::HardwareWide:
        return "hardware-wide";
    }
    return "?";
}

struct ScheduledKey {
    explicit ScheduledKey(const QByteArray& key) { aesInit(ctx, u8(key)); }
    ~ScheduledKey() { aesClear(ctx); }
    AesContext ctx;
};

QByteArray kindKey(char kind)
{
    QByteArray key(16, '\0');
    buildCipherKey(kind, u8(key));
    return key;
}

QByteArray cbcEncrypt(const QByteArray& key, const QByteArray& iv, const QByteArray& plain)
{
    ScheduledKey k(key);
    QByteArray out(plain.size(), '\0');
    EXPECT_EQ(aesCbcEncrypt(k.ctx, u8(plain), u8(out), u8(iv), size_t(plain.size())), 0);
    return out;
}

QByteArray cbcDecrypt(const QByteArray& key, QByteArray iv, const QByteArray& cipher)
{
    ScheduledKey k(key);
    QByteArray out(cipher.size(), '\0');
    EXPECT_EQ(aesCbcDecrypt(k.ctx, u8(cipher), u8(out), u8(iv), size_t(cipher.size())), 0);
    return out;
}

// openssl is the outside reference for the envelope; CI installs it, elsewhere the test skips.
bool opensslMissing()
{
    if (testsupport::haveTool("openssl"))
        return false;
    return qEnvironmentVariable("CI") != QLatin1String("true");
}

QByteArray openssl(bool decrypt, const QByteArray& key, const QByteArray& iv, const QByteArray& input)
{
    QStringList args{"enc"};
    if (decrypt)
        args << "-d";
    args << "-aes-128-cbc" << "-nopad" << "-K" << QString::fromLatin1(key.toHex()) << "-iv"
         << QString::fromLatin1(iv.toHex());
    const testsupport::ProcessResult r = testsupport::runProcess("openssl", args, input);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return r.out;
}

// Every length from 0 to 100 (all tail sizes, several whole-block counts) and one of a few MB.
std::vector<qsizetype> interoperabilityLengths()
{
    std::vector<qsizetype> lengths;
    for (qsizetype n = 0; n <= 100; ++n)
        lengths.push_back(n);
    lengths.push_back(3 * 1024 * 1024 + 7);
    return lengths;
}

qsizetype wholeBlocksOf(qsizetype n)
{
    return n - n % 16;
}

} // namespace

// ---- AES layer -----------------------------------------------------------------------------

TEST(AesKnownAnswers, Fips197VectorsOnEveryPath)
{
    ImplementationGuard guard;
    for (AesImplementation impl : supportedImplementations()) {
        SCOPED_TRACE(label(impl));
        ASSERT_TRUE(aesSelectImplementation(impl));

        // Appendix A.1: the last round key of the expansion of 2b7e1516...
        ScheduledKey expanded(hex("2b7e151628aed2a6abf7158809cf4f3c"));
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(expanded.ctx.roundKeys[10]), 16).toHex(),
                  "d014f9a8c9ee2589e13f0cc8b6630ca6");
        EXPECT_EQ(expanded.ctx.blockSize, 16u);

        // Appendix B and C.1.
        struct Vector {
            const char* key;
            const char* plain;
            const char* cipher;
        };
        for (const Vector& v : {Vector{"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
                                       "3925841d02dc09fbdc118597196a0b32"},
                                Vector{"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
                                       "69c4e0d86a7b0430d8cdb78070b4c55a"}}) {
            ScheduledKey k(hex(v.key));
            QByteArray block = hex(v.plain);
            aesEncryptBlock(k.ctx, u8(block));
            EXPECT_EQ(block.toHex(), v.cipher);
            aesDecryptBlock(k.ctx, u8(block));
            EXPECT_EQ(block.toHex(), v.plain);
        }
    }
}

TEST(AesKnownAnswers, Sp80038aCbcVectorsOnEveryPath)
{
    const QByteArray key = hex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray iv = hex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                 "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const QByteArray cipher = hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                  "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    ImplementationGuard guard;
    for (AesImplementation impl : supportedImplementations()) {
        SCOPED_TRACE(label(impl));
        ASSERT_TRUE(aesSelectImplementation(impl));
        ScheduledKey k(key);

        // F.2.1; the caller's IV is left as it was.
        QByteArray ivCopy = iv;
        QByteArray out(plain.size(), '\0');
        ASSERT_EQ(aesCbcEncrypt(k.ctx, u8(plain), u8(out), u8(ivCopy), size_t(plain.size())), 0);
        EXPECT_EQ(out, cipher);
        EXPECT_EQ(ivCopy, iv);

        // F.2.2, deciphered in two pieces: the IV buffer carries the chain from one to the next.
        out.fill('\0');
        ASSERT_EQ(aesCbcDecrypt(k.ctx, u8(cipher), u8(out), u8(ivCopy), 16), 0);
        EXPECT_EQ(ivCopy, cipher.left(16));
        ASSERT_EQ(aesCbcDecrypt(k.ctx, u8(cipher) + 16, u8(out) + 16, u8(ivCopy), 48), 0);
        EXPECT_EQ(out, plain);
        EXPECT_EQ(ivCopy, cipher.right(16));
    }
}

TEST(AesPaths, AgreeOnRandomDataForEveryBlockCountAndOverlap)
{
    const QByteArray key = testsupport::pseudoRandomBytes(16, 7);
    const QByteArray iv = testsupport::pseudoRandomBytes(16, 8);
    ImplementationGuard guard;
    // Up to 40 blocks covers every remainder after groups of 8 and 16; 4099 many full groups.
    std::vector<qsizetype> blockCounts;
    for (qsizetype b = 0; b <= 40; ++b)
        blockCounts.push_back(b);
    blockCounts.push_back(4099);
    for (qsizetype blocks : blockCounts) {
        SCOPED_TRACE(blocks);
        const qsizetype length = 16 * blocks;
        const QByteArray plain = testsupport::pseudoRandomBytes(length, quint32(blocks));
        ASSERT_TRUE(aesSelectImplementation(AesImplementation::Portable));
        const QByteArray expectedCipher = cbcEncrypt(key, iv, plain);
        ASSERT_EQ(cbcDecrypt(key, iv, expectedCipher), plain);

        for (AesImplementation impl : supportedImplementations()) {
            SCOPED_TRACE(label(impl));
            ASSERT_TRUE(aesSelectImplementation(impl));
            EXPECT_EQ(cbcEncrypt(key, iv, plain), expectedCipher);
            EXPECT_EQ(cbcDecrypt(key, iv, expectedCipher), plain);

            ScheduledKey k(key);
            QByteArray ivCopy = iv;
            // In place.
            QByteArray buffer = plain;
            aesCbcEncrypt(k.ctx, u8(buffer), u8(buffer), u8(iv), size_t(length));
            EXPECT_EQ(buffer, expectedCipher);
            aesCbcDecrypt(k.ctx, u8(buffer), u8(buffer), u8(ivCopy), size_t(length));
            EXPECT_EQ(buffer, plain);
            // Shifted one block up while enciphering, and back down while deciphering.
            buffer = plain + QByteArray(16, '\0');
            aesCbcEncrypt(k.ctx, u8(buffer), u8(buffer) + 16, u8(iv), size_t(length));
            EXPECT_EQ(buffer.mid(16), expectedCipher);
            ivCopy = iv;
            aesCbcDecrypt(k.ctx, u8(buffer) + 16, u8(buffer), u8(ivCopy), size_t(length));
            EXPECT_EQ(buffer.left(length), plain);
        }
    }
}

TEST(AesLayer, CbcRefusesLengthsThatAreNotWholeBlocks)
{
    ImplementationGuard guard;
    for (AesImplementation impl : supportedImplementations()) {
        SCOPED_TRACE(label(impl));
        ASSERT_TRUE(aesSelectImplementation(impl));
        ScheduledKey k(hex("000102030405060708090a0b0c0d0e0f"));
        const QByteArray in = testsupport::pseudoRandomBytes(64, 1);
        const QByteArray iv = testsupport::pseudoRandomBytes(16, 2);
        for (size_t length : {1u, 15u, 17u, 33u, 47u}) {
            SCOPED_TRACE(length);
            // A sentinel-filled output one block longer than the input: any write shows.
            QByteArray out(80, '\x5a');
            QByteArray ivCopy = iv;
            EXPECT_EQ(aesCbcEncrypt(k.ctx, u8(in), u8(out), u8(ivCopy), length), -1);
            EXPECT_EQ(out, QByteArray(80, '\x5a'));
            EXPECT_EQ(aesCbcDecrypt(k.ctx, u8(in), u8(out), u8(ivCopy), length), -1);
            EXPECT_EQ(out, QByteArray(80, '\x5a'));
            EXPECT_EQ(ivCopy, iv);
        }
    }
}

TEST(AesLayer, KeyMaterialIsWipedAlsoWhenAnExceptionPasses)
{
    AesContext ctx;
    aesInit(ctx, u8(hex("000102030405060708090a0b0c0d0e0f")));
    aesClear(ctx);
    for (const auto& roundKey : ctx.roundKeys)
        for (std::uint8_t b : roundKey)
            ASSERT_EQ(b, 0);

    std::uint8_t secret[32];
    std::memset(secret, 0xa7, sizeof secret);
    try {
        WipeOnExit wipe(secret, sizeof secret);
        throw std::runtime_error("unwinding");
    } catch (const std::runtime_error&) {
    }
    for (std::uint8_t b : secret)
        EXPECT_EQ(b, 0);
}

TEST(AesLayer, SelectsOnlySupportedPathsAndNamesThem)
{
    ImplementationGuard guard;
    ASSERT_TRUE(aesSelectImplementation(AesImplementation::Portable));
    EXPECT_EQ(aesActiveImplementation(), AesImplementation::Portable);
    EXPECT_STREQ(aesImplementationName(), "portable C++");
    for (AesImplementation impl : {AesImplementation::Hardware, AesImplementation::HardwareWide}) {
        SCOPED_TRACE(label(impl));
        if (aesSelectImplementation(impl)) {
            EXPECT_EQ(aesActiveImplementation(), impl);
            EXPECT_STREQ(aesImplementationName(), "INTEL AES-NI");
        } else {
            EXPECT_FALSE(aesImplementationSupported(impl));
            EXPECT_EQ(aesActiveImplementation(), AesImplementation::Portable);
        }
    }
    // The processor's own word on its instructions, read independently of the code under test.
    QByteArray flags;
    for (const QByteArray& line : testsupport::readFile("/proc/cpuinfo").split('\n')) {
        if (line.startsWith("flags")) {
            flags = line.mid(line.indexOf(':') + 1) + ' ';
            break;
        }
    }
    const bool hasAes = flags.contains(" aes ");
    const bool hasWide = hasAes && flags.contains(" vaes ") && flags.contains(" avx2 ");
    EXPECT_EQ(aesImplementationSupported(AesImplementation::Hardware), hasAes);
    EXPECT_EQ(aesImplementationSupported(AesImplementation::HardwareWide), hasWide);
}

// ---- Envelope ------------------------------------------------------------------------------

TEST(Envelope, OpensslReadsWhatTheEnvelopeWrites)
{
    if (opensslMissing())
        GTEST_SKIP() << "openssl is not installed";
    for (qsizetype n : interoperabilityLengths()) {
        SCOPED_TRACE(n);
        const char kind = kKinds[n % 4];
        const QByteArray content = testsupport::pseudoRandomBytes(n, quint32(n));
        QByteArray envelope;
        // Both writers, in turn.
        if (n % 2 == 0) {
            envelope = content;
            ASSERT_TRUE(encipherBytes(envelope, kind));
        } else {
            envelope = "stale output to be replaced";
            ASSERT_TRUE(encipherBytesTo(content, envelope, kind));
        }
        ASSERT_EQ(envelope.size(), n + 16);
        const qsizetype whole = wholeBlocksOf(n);
        if (whole > 0) {
            EXPECT_EQ(openssl(true, kindKey(kind), envelope.left(16), envelope.mid(16, whole)), content.left(whole));
        }
        EXPECT_EQ(envelope.mid(16 + whole), content.mid(whole));
    }
}

TEST(Envelope, ReadsWhatOpensslWrites)
{
    if (opensslMissing())
        GTEST_SKIP() << "openssl is not installed";
    for (qsizetype n : interoperabilityLengths()) {
        SCOPED_TRACE(n);
        const char kind = kKinds[(n + 1) % 4];
        const QByteArray content = testsupport::pseudoRandomBytes(n, quint32(n) + 1000);
        const QByteArray iv = testsupport::pseudoRandomBytes(16, quint32(n) + 2000);
        const qsizetype whole = wholeBlocksOf(n);
        const QByteArray body = whole > 0 ? openssl(false, kindKey(kind), iv, content.left(whole)) : QByteArray();
        ASSERT_EQ(body.size(), whole);
        QByteArray data = iv + body + content.mid(whole);
        ASSERT_TRUE(decipherBytes(data, kind));
        EXPECT_EQ(data, content);
    }
}

TEST(Envelope, LayoutOfShortAndOddLengths)
{
    QByteArray empty;
    ASSERT_TRUE(encipherBytes(empty, CipherKind::Data));
    EXPECT_EQ(empty.size(), 16);
    ASSERT_TRUE(decipherBytes(empty, CipherKind::Data));
    EXPECT_TRUE(empty.isEmpty());

    // Under one block: nothing is enciphered, the content follows the IV as it was.
    const QByteArray fifteen = "fifteen bytes!!";
    QByteArray small = fifteen;
    ASSERT_TRUE(encipherBytes(small, CipherKind::Data));
    EXPECT_EQ(small.size(), 31);
    EXPECT_EQ(small.mid(16), fifteen);

    const QByteArray content = testsupport::pseudoRandomBytes(33, 3);
    QByteArray envelope = content;
    ASSERT_TRUE(encipherBytes(envelope, CipherKind::Data));
    EXPECT_EQ(envelope.size(), 49);
    EXPECT_NE(envelope.mid(16, 16), content.left(16));
    EXPECT_NE(envelope.mid(32, 16), content.mid(16, 16));
    EXPECT_EQ(envelope.back(), content.back());
}

TEST(Envelope, ShortInputIsRefusedUnchanged)
{
    for (qsizetype n = 0; n < 16; ++n) {
        const QByteArray original = testsupport::pseudoRandomBytes(n, quint32(n));
        QByteArray data = original;
        EXPECT_FALSE(decipherBytes(data, CipherKind::Data)) << n;
        EXPECT_EQ(data, original);
    }
}

TEST(Envelope, WrongKindGivesWrongContentOfTheRightLength)
{
    const QByteArray content = testsupport::pseudoRandomBytes(70, 11);
    for (char writer : kKinds) {
        QByteArray envelope = content;
        encipherBytes(envelope, writer);
        for (char reader : kKinds) {
            QByteArray data = envelope;
            ASSERT_TRUE(decipherBytes(data, reader));
            ASSERT_EQ(data.size(), content.size());
            // The plain tail is the same under any key; the blocks are not.
            EXPECT_EQ(data.right(6), content.right(6));
            EXPECT_EQ(data.left(64) == content.left(64), writer == reader)
                << int(writer) << " read as " << int(reader);
        }
    }
}

TEST(Envelope, KindKeysAreOneConstantXorDistinctSelectors)
{
    for (char a : kKinds) {
        for (char b : kKinds) {
            const QByteArray ka = kindKey(a);
            const QByteArray kb = kindKey(b);
            if (a == b) {
                EXPECT_EQ(ka, kb);
                continue;
            }
            EXPECT_NE(ka, kb);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(std::uint8_t(ka[i] ^ kb[i]), std::uint8_t(a ^ b));
        }
    }
}

TEST(Envelope, SameContentWrittenTwiceGetsDifferentIvs)
{
    // Written back to back, well within one second of each other.
    const QByteArray content = testsupport::pseudoRandomBytes(48, 5);
    QSet<QByteArray> ivs;
    QSet<QByteArray> bodies;
    for (int i = 0; i < 64; ++i) {
        QByteArray envelope;
        encipherBytesTo(content, envelope, CipherKind::Data);
        ivs.insert(envelope.left(16));
        bodies.insert(envelope.mid(16));
    }
    EXPECT_EQ(ivs.size(), 64);
    EXPECT_EQ(bodies.size(), 64);
}

TEST(Envelope, LeavesSharedCopiesAndTheSourceUntouched)
{
    const QByteArray content = testsupport::pseudoRandomBytes(1000, 9);
    // Deep copies: plain assignment would share the bytes and hide a write through them.
    const auto deepCopy = [](const QByteArray& a) { return QByteArray(a.constData(), a.size()); };
    const QByteArray original = deepCopy(content);

    QByteArray copy = content; // shares its bytes with `content` until written
    encipherBytes(copy, CipherKind::Data);
    EXPECT_EQ(content, original);

    QByteArray envelope;
    encipherBytesTo(content, envelope, CipherKind::Data);
    EXPECT_EQ(content, original);

    // Destination sharing the source's bytes.
    QByteArray sharing = content;
    encipherBytesTo(content, sharing, CipherKind::Data);
    EXPECT_EQ(content, original);
    ASSERT_TRUE(decipherBytes(sharing, CipherKind::Data));
    EXPECT_EQ(sharing, original);

    const QByteArray envelopeCopy = deepCopy(envelope);
    QByteArray reader = envelope;
    ASSERT_TRUE(decipherBytes(reader, CipherKind::Data));
    EXPECT_EQ(reader, original);
    EXPECT_EQ(envelope, envelopeCopy);

    // Source and destination the same array.
    QByteArray self = content;
    encipherBytesTo(self, self, CipherKind::Data);
    ASSERT_EQ(self.size(), content.size() + 16);
    ASSERT_TRUE(decipherBytes(self, CipherKind::Data));
    EXPECT_EQ(self, original);
}

TEST(Envelope, WrittenOnOnePathReadsBackOnEveryOther)
{
    ImplementationGuard guard;
    const std::vector<AesImplementation> paths = supportedImplementations();
    for (qsizetype n : {qsizetype(0), qsizetype(17), qsizetype(255), qsizetype(16 * 4099 + 5)}) {
        const QByteArray content = testsupport::pseudoRandomBytes(n, quint32(n) + 3);
        for (AesImplementation writer : paths) {
            ASSERT_TRUE(aesSelectImplementation(writer));
            QByteArray envelope = content;
            encipherBytes(envelope, CipherKind::SvgPlan);
            for (AesImplementation reader : paths) {
                ASSERT_TRUE(aesSelectImplementation(reader));
                QByteArray data = envelope;
                ASSERT_TRUE(decipherBytes(data, CipherKind::SvgPlan));
                EXPECT_EQ(data, content) << n << ' ' << label(writer) << " -> " << label(reader);
            }
        }
    }
}

TEST(Envelope, ThreadsEncipherAndDecipherAtTheSameTime)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 50; ++round) {
                const QByteArray content = testsupport::pseudoRandomBytes(1000 + 97 * round + t, quint32(t * 100 + round));
                QByteArray data = content;
                encipherBytes(data, kKinds[t % 4]);
                if (!decipherBytes(data, kKinds[t % 4]) || data != content)
                    ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}
