#pragma once

#include <QByteArray>

namespace testsupport {

// The content of an enciphered-file envelope as openssl deciphers it: AES-128-CBC without padding
// over the whole 16-byte blocks after the IV, the last 0 to 15 bytes taken as they are. Adds a
// GoogleTest failure and returns nothing when openssl fails or the envelope is too short.
QByteArray opensslDecipher(const QByteArray& envelope, char kind);

} // namespace testsupport
