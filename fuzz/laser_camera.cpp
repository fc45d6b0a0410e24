// A scan folder of the one-lens laser-line camera: the laser lines each shot found, as pixel
// centroids ("aCts.dat" .. "cCts.dat"), the position and compass angles "pos.txt" and the field
// application's placement "room.dat", read as the scan's processing reads them.
#include "fuzz_support.h"
#include "small_one_lens_models.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdexcept>

namespace {
const CamParamsZTM4* camera = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    camera = fuzzsupport::smallLaserLineCamera().release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString folder = fuzzsupport::freshScratch();
    const auto piece = [&input] { return QByteArray::fromStdString(input.ConsumeRandomLengthString(1 << 17)); };
    for (const char* name : {"pos.txt", "aCts.dat", "bCts.dat", "cCts.dat"})
        fuzzsupport::put(name, piece());
    // Switches from the end: the shots' turn alignment.
    ImageParams params;
    params[ImageParams::YAW_2] = input.ConsumeFloatingPoint<float>();
    params[ImageParams::YAW_3] = input.ConsumeFloatingPoint<float>();
    fuzzsupport::put("room.dat", QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));

    ScanData scan;
    try {
        camera->loadScanData(folder, params, scan);
    } catch (const std::runtime_error&) {
        // A "room.dat" too old or corrupted is reported to the person; not a fault.
    }
    return 0;
}
