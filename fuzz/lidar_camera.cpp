// A scan folder of the one-lens lidar camera: its three lidar files, its metadata ("scan.json",
// with the camera's "scan_hash", or the older "xfrm.dat"), read as the scan's processing reads
// them (with and without the turn search), as the calibration search reads the sweeps, and
// fingerprinted.
#include "camera/scan_json.h"
#include "fuzz_support.h"
#include "small_one_lens_models.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {
const CamParamsZTM5* camera = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    camera = fuzzsupport::smallLidarCamera().release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString folder = fuzzsupport::freshScratch();
    const auto piece = [&input] { return QByteArray::fromStdString(input.ConsumeRandomLengthString(1 << 17)); };
    for (const char* name : {"pts1.dat", "pts2.dat", "pts3.dat"})
        fuzzsupport::put(name, piece());
    // Switches from the end: the metadata's kind, the turn search, the trial calibration.
    const bool json = input.ConsumeBool();
    LidarReadOptions options;
    options.headingSearchMode = input.ConsumeIntegralInRange(0, 2);
    options.phase = input.ConsumeFloatingPoint<float>();
    options.amplitude = input.ConsumeFloatingPoint<float>();
    options.offset = input.ConsumeFloatingPoint<float>();
    ImageParams params;
    params[ImageParams::YAW_2] = input.ConsumeFloatingPoint<float>();
    params[ImageParams::YAW_3] = input.ConsumeFloatingPoint<float>();
    params[ImageParams::ROLL_GLOBAL] = input.ConsumeFloatingPoint<float>();
    fuzzsupport::put(json ? "scan.json" : "xfrm.dat", QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));

    ScanData scan;
    camera->loadScanData(folder, params, scan, options);
    ScanData record;
    QString cameraHash;
    readScanJson(folder, record, cameraHash);
    camera->scanHash(folder.toStdString());
    QList<QPoint> points;
    camera->rotatePointCloud(points, camera->readLidarScan(folder, params), options.phase, options.amplitude);
    return 0;
}
