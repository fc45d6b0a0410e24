#include "base/cipher.h"

#include "base/aes.h"
#include "base/secure_wipe.h"

#include <QRandomGenerator>

#include <cstring>

namespace {

// Shared by every file kind; never combined into a key outside buildCipherKey.
constexpr std::uint8_t kKeyConstant[16] = {0xeb, 0x91, 0xd8, 0xe2, 0x00, 0x35, 0x83, 0x26,
                                           0xdc, 0x77, 0x56, 0xba, 0x8c, 0xa9, 0x2d, 0x62};

// A kind's key and its schedule for the length of one call, wiped on every way out.
class KindCipher {
public:
    explicit KindCipher(char selector)
    {
        buildCipherKey(selector, m_key);
        aesInit(m_context, m_key);
    }
    ~KindCipher()
    {
        aesClear(m_context);
        secureWipe(m_key, sizeof m_key);
    }
    KindCipher(const KindCipher&) = delete;
    KindCipher& operator=(const KindCipher&) = delete;

    const AesContext& context() const { return m_context; }

private:
    std::uint8_t m_key[16];
    AesContext m_context;
};

// IVs come from the operating system's generator: two envelopes never share one, whatever
// their timing or thread.
void drawIv(std::uint8_t iv[16])
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    std::memcpy(iv, words, sizeof words);
}

qsizetype wholeBlockBytes(qsizetype n)
{
    return n - n % qsizetype(kAesBlockSize);
}

std::uint8_t* bytes(QByteArray& array)
{
    return reinterpret_cast<std::uint8_t*>(array.data());
}

const std::uint8_t* bytes(const QByteArray& array)
{
    return reinterpret_cast<const std::uint8_t*>(array.constData());
}

} // namespace

void buildCipherKey(char selector, std::uint8_t key[16])
{
    for (int i = 0; i < 16; ++i)
        key[i] = kKeyConstant[i] ^ std::uint8_t(selector);
}

bool encipherBytes(QByteArray& data, char selector)
{
    const qsizetype n = data.size();
    const qsizetype whole = wholeBlockBytes(n);
    std::uint8_t iv[16];
    drawIv(iv);
    // Grows in place for large unshared buffers (realloc), so no second copy of the content.
    data.resize(n + kEnvelopeOverhead);
    std::uint8_t* p = bytes(data);
    // The tail moves out of the way first: the last enciphered block lands on its old place.
    std::memmove(p + kEnvelopeOverhead + whole, p + whole, size_t(n - whole));
    if (whole > 0) {
        const KindCipher cipher(selector);
        // Shifts every block up by one while enciphering; the AES layer reads each block
        // before the one in front of it is written.
        aesCbcEncrypt(cipher.context(), p, p + kEnvelopeOverhead, iv, size_t(whole));
    }
    // Only now: the first content block was stored where the IV goes.
    std::memcpy(p, iv, sizeof iv);
    return true;
}

bool encipherBytesTo(const QByteArray& in, QByteArray& out, char selector)
{
    if (&in == &out)
        return encipherBytes(out, selector);
    const qsizetype n = in.size();
    const qsizetype whole = wholeBlockBytes(n);
    out.resize(n + kEnvelopeOverhead);
    std::uint8_t* p = bytes(out);
    drawIv(p);
    if (whole > 0) {
        const KindCipher cipher(selector);
        aesCbcEncrypt(cipher.context(), bytes(in), p + kEnvelopeOverhead, p, size_t(whole));
    }
    std::memcpy(p + kEnvelopeOverhead + whole, bytes(in) + whole, size_t(n - whole));
    return true;
}

bool decipherBytes(QByteArray& data, char selector)
{
    if (data.size() < kEnvelopeOverhead)
        return false;
    const qsizetype m = data.size() - kEnvelopeOverhead;
    const qsizetype whole = wholeBlockBytes(m);
    std::uint8_t* p = bytes(data);
    std::uint8_t iv[16];
    std::memcpy(iv, p, sizeof iv);
    if (whole > 0) {
        const KindCipher cipher(selector);
        // Deciphers down over the IV in place; the AES layer allows output before input.
        aesCbcDecrypt(cipher.context(), p + kEnvelopeOverhead, p, iv, size_t(whole));
    }
    std::memmove(p + whole, p + kEnvelopeOverhead + whole, size_t(m - whole));
    data.truncate(m);
    return true;
}
