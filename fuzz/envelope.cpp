// The enciphered-file envelope: any bytes decipher to their length less the IV or are refused, and
// whatever is enciphered deciphers back to itself under every key.
#include "base/cipher.h"
#include "fuzz_support.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzsupport::bytes(data, size);
    for (char kind : {CipherKind::Data, CipherKind::Draft, CipherKind::SvgPlan, CipherKind::DxfPlan}) {
        QByteArray deciphered = input;
        const bool ok = decipherBytes(deciphered, kind);
        if (ok != (input.size() >= 16) || (ok && deciphered.size() != input.size() - 16))
            std::abort();
        QByteArray roundTrip = input;
        encipherBytes(roundTrip, kind);
        if (!decipherBytes(roundTrip, kind) || roundTrip != input)
            std::abort();
    }
    return 0;
}
