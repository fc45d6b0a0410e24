// Command-line driver for the file SHA-1 of the scan fingerprint, so that scripts can time it
// against `openssl dgst -sha1` process for process: prints "SHA1(FILE)= <hex>" per file, as
// openssl does, and fails on a file it cannot read through.
//   sha1_tool FILE...
#include "base/sha1.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: sha1_tool FILE...\n");
        return 2;
    }
    int status = 0;
    Sha1 sha1;
    for (int i = 1; i < argc; ++i) {
        if (!sha1.hashFile(QString::fromLocal8Bit(argv[i]).toStdWString().c_str())) {
            std::fprintf(stderr, "sha1_tool: cannot read %s\n", argv[i]);
            status = 1;
            continue;
        }
        std::printf("SHA1(%s)= ", argv[i]);
        for (const uint8_t byte : sha1.digest())
            std::printf("%02x", byte);
        std::printf("\n");
    }
    return status;
}
