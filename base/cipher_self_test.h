#pragma once

#include <QString>

// Quick check of the cipher on this machine with the AES path in use: known-answer vectors of
// the block cipher and of CBC mode, and envelope round trips of every file kind. Returns an empty
// text when all pass, otherwise what failed.
QString cipherSelfTestFailure();
