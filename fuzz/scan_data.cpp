// A two-lens scan folder's lidar files, its metadata ("scan.json" or the older "xfrm.dat") and the
// point cloud "pc.dat" the program writes beside them.
#include "fuzz_support.h"
#include "model/pointcloud_file.h"
#include "small_two_lens_model.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString folder = fuzzsupport::freshScratch();
    const auto piece = [&input] { return QByteArray::fromStdString(input.ConsumeRandomLengthString(1 << 16)); };
    fuzzsupport::put("pts1.dat", piece());
    fuzzsupport::put("pts2.dat", piece());
    const bool json = input.ConsumeBool();
    const float yaw = input.ConsumeFloatingPoint<float>();
    ImageParams params;
    params[ImageParams::ROLL_GLOBAL] = input.ConsumeFloatingPoint<float>();
    params[ImageParams::PITCH_GLOBAL] = input.ConsumeFloatingPoint<float>();
    const QByteArray pointcloud = piece();
    fuzzsupport::put(json ? "scan.json" : "xfrm.dat", QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));

    ScanData scan;
    smallTwoLensModel(yaw)->loadScanData(folder, params, scan);
    QList<QPoint> points;
    decodePointcloud(pointcloud, points);
    return 0;
}
