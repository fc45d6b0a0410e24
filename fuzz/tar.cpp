// An archive opened with "Load project": extracted beside itself, which is inside the scratch
// folder; every name it may write is checked before anything is written.
#include "base/tar_reader.h"
#include "fuzz_support.h"

#include <stdexcept>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::freshScratch();
    const QString archive = fuzzsupport::put("box/dest/a.tar", fuzzsupport::bytes(data, size));
    try {
        extractTar(archive);
    } catch (const std::runtime_error&) {
        // Refused: the archive is damaged or hostile.
    }
    return 0;
}
