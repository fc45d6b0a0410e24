#include "base/cipher_self_test.h"

#include "base/aes.h"
#include "base/cipher.h"
#include "base/secure_wipe.h"

#include <cstring>

namespace {

QByteArray fromHex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

std::uint8_t* bytes(QByteArray& a)
{
    return reinterpret_cast<std::uint8_t*>(a.data());
}

// FIPS-197 appendix C.1.
QString blockCipherFailure()
{
    const QByteArray key = fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = fromHex("00112233445566778899aabbccddeeff");
    const QByteArray cipher = fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    AesContext ctx;
    aesInit(ctx, bytes(key));
    WipeOnExit wipe(ctx.roundKeys, sizeof ctx.roundKeys);
    QByteArray block = plain;
    aesEncryptBlock(ctx, bytes(block));
    if (block != cipher)
        return QStringLiteral("AES-128 block encryption gives a wrong result");
    aesDecryptBlock(ctx, bytes(block));
    if (block != plain)
        return QStringLiteral("AES-128 block decryption gives a wrong result");
    return {};
}

// NIST SP 800-38A F.2.1 and F.2.2.
QString cbcFailure()
{
    const QByteArray key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray iv = fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const QByteArray cipher = fromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    AesContext ctx;
    aesInit(ctx, bytes(key));
    WipeOnExit wipe(ctx.roundKeys, sizeof ctx.roundKeys);
    QByteArray out(plain.size(), '\0');
    aesCbcEncrypt(ctx, bytes(plain), bytes(out), bytes(iv), size_t(plain.size()));
    if (out != cipher)
        return QStringLiteral("CBC encryption gives a wrong result");
    QByteArray ivCopy = iv;
    aesCbcDecrypt(ctx, bytes(cipher), bytes(out), bytes(ivCopy), size_t(cipher.size()));
    if (out != plain)
        return QStringLiteral("CBC decryption gives a wrong result");
    return {};
}

QString envelopeFailure()
{
    const char kinds[] = {CipherKind::Data, CipherKind::Draft, CipherKind::SvgPlan, CipherKind::DxfPlan};
    for (qsizetype n = 0; n <= 200; n += 7) {
        QByteArray content(n, Qt::Uninitialized);
        for (qsizetype i = 0; i < n; ++i)
            content[i] = char(i * 37 + n);
        for (int k = 0; k < 4; ++k) {
            QByteArray envelope = content;
            encipherBytes(envelope, kinds[k]);
            if (envelope.size() != n + kEnvelopeOverhead || envelope.right(n % 16) != content.right(n % 16))
                return QStringLiteral("an envelope has the wrong layout");
            if (n >= 16 && envelope.mid(16, 16) == content.left(16))
                return QStringLiteral("an envelope leaves its content in plain");
            QByteArray otherKind = envelope;
            decipherBytes(otherKind, kinds[(k + 1) % 4]);
            if (n >= 16 && otherKind == content)
                return QStringLiteral("two file kinds share a key");
            if (!decipherBytes(envelope, kinds[k]) || envelope != content)
                return QStringLiteral("an envelope does not read back");
        }
    }
    return {};
}

} // namespace

QString cipherSelfTestFailure()
{
    for (auto check : {blockCipherFailure, cbcFailure, envelopeFailure}) {
        const QString failure = check();
        if (!failure.isEmpty())
            return failure;
    }
    return {};
}
