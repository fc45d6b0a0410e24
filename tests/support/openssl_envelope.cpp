#include "support/openssl_envelope.h"

#include "support/project_generator.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace testsupport {

QByteArray opensslDecipher(const QByteArray& envelope, char kind)
{
    if (envelope.size() < 16) {
        ADD_FAILURE() << "an envelope of " << envelope.size() << " bytes has no IV";
        return {};
    }
    const QByteArray body = envelope.mid(16);
    const qsizetype whole = body.size() / 16 * 16;
    QByteArray content;
    if (whole > 0) {
        const ProcessResult r = runProcess("openssl", {"enc", "-d", "-aes-128-cbc", "-nopad", "-K", cipherKeyHex(kind),
                                                       "-iv", QString::fromLatin1(envelope.left(16).toHex())},
                                           body.left(whole));
        if (r.exitCode != 0 || r.out.size() != whole) {
            ADD_FAILURE() << "openssl: " << r.err.toStdString();
            return {};
        }
        content = r.out;
    }
    return content + body.mid(whole);
}

} // namespace testsupport
