// The shots of the one-lens cameras and the bracketed exposures they are fused from, as the
// scan's processing reads them: a shot loaded (and, for the lidar camera, corrected), and one,
// two or three exposures (as many as the input's length picks) fused into a shot. The models
// take 64-pixel shots; any other size must be refused from the file's header.
#include "fuzz_support.h"
#include "small_one_lens_models.h"

#include <QFileInfo>

#include <cstdlib>
#include <stdexcept>
#include <tuple>

namespace {
CamParamsZTM4* laserLine = nullptr;
CamParamsZTM5* lidar = nullptr;

template <typename F>
void refusedOrDone(F&& action)
{
    try {
        action();
    } catch (const std::runtime_error&) {
        // A shot or exposure that cannot be used is reported to the person; not a fault.
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    laserLine = fuzzsupport::smallLaserLineCamera().release();
    lidar = fuzzsupport::smallLidarCamera().release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = fuzzsupport::freshScratch();
    const QByteArray image = fuzzsupport::bytes(data, size);
    const int exposures = 1 + int(size % 3);
    for (const char* name : {"h2.jpg", "ha.jpg"})
        fuzzsupport::put(name, image);
    for (int k = 0; k < exposures; ++k) {
        fuzzsupport::put(QStringLiteral("p%1.jpg").arg(k), image);
        fuzzsupport::put(QStringLiteral("pb%1.jpg").arg(k), image);
    }

    QByteArray rgb;
    refusedOrDone([&] { lidar->loadFisheyeImage(folder, 1, rgb, true); });
    refusedOrDone([&] { laserLine->loadFisheyeImage(folder, 0, rgb, false); });
    refusedOrDone([&] { lidar->buildHdrImage(folder, 1, size % 2 == 0, folder); });
    refusedOrDone([&] { laserLine->buildHdrImage(folder, 1, size % 2 == 0, folder); });
    // A fused shot, written by the program, is a shot of the camera's size: it loads.
    for (const auto& [camera, shot, name] : {std::tuple<const CamParamsOneLens*, int, const char*>{lidar, 0, "h1.jpg"},
                                             {laserLine, 1, "hb.jpg"}}) {
        if (!QFileInfo::exists(folder + "/" + name))
            continue;
        QByteArray fused;
        camera->loadFisheyeImage(folder, shot, fused, false);
        if (fused.size() != 64 * 64 * 3)
            std::abort();
    }
    return 0;
}
