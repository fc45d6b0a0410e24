// The calibration file "system.cfg" as each camera model reads it. The bytes are read as they are
// and, where the two-lens layout fits, once more with their CRC made to match, so that the values
// behind the check are explored too; a two-lens calibration that is taken is then used: positions
// mapped both ways and a small pano rendered from lens images of its size.
#include "base/crc16.h"
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"
#include "camera/cam_params_ztm6.h"
#include "fuzz_support.h"

#include <cstring>
#include <vector>

namespace {

constexpr qsizetype kHeaderBytes = 152;
constexpr qsizetype kLensBytes = 72;

// The bytes with the CRC trailer of the two-lens layout they claim, or nothing when they hold less.
QByteArray withMatchingCrc(QByteArray bytes)
{
    if (bytes.size() < kHeaderBytes)
        return {};
    int32_t lenses = 0;
    std::memcpy(&lenses, bytes.constData() + 16, sizeof lenses);
    if (lenses != 1 && lenses != 2)
        return {};
    const qsizetype covered = kHeaderBytes + kLensBytes * lenses;
    if (bytes.size() < covered + 2)
        bytes.resize(covered + 2, '\0');
    // The reader checks the text fields as it holds them, with their last byte NUL.
    for (qsizetype field = 20; field < 116; field += 24)
        bytes[field + 23] = '\0';
    const uint16_t crc = computeCrc16(reinterpret_cast<const uint8_t*>(bytes.constData()), uint32_t(covered));
    std::memcpy(bytes.data() + covered, &crc, sizeof crc);
    return bytes;
}

void use(CamParamsZTM6& model)
{
    ImageParams level;
    level[ImageParams::ROLL_GLOBAL] = 0.03f;
    level[ImageParams::PITCH_GLOBAL] = -0.02f;
    for (float u = -0.25f; u <= 1.25f; u += 0.125f) {
        for (float v = -0.25f; v <= 1.25f; v += 0.125f) {
            float x = 0, y = 0;
            model.panoToCamera(u, v, level, x, y);
            model.cameraToPano(u, v, level, x, y);
        }
    }
    const qint64 pixels = qint64(model.imageWidth()) * model.imageHeight();
    if (pixels <= 0 || pixels > 256 * 128)
        return;
    std::vector<uint8_t> lens(size_t(pixels) * 3);
    for (size_t i = 0; i < lens.size(); ++i)
        lens[i] = uint8_t(i * 7);
    std::vector<uint8_t> pano(64 * 32 * 3);
    model.initBlendMasks(64, 128);
    try {
        model.blendTwoLensPano(lens.data(), lens.data(), 64, 32, level, pano.data());
        model.renderPano(lens.data(), nullptr, nullptr, 64, 32, level, pano.data());
    } catch (const std::runtime_error&) {
        // A refused calibration is an answer, not a fault.
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::freshScratch();
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QString path = fuzzsupport::put("system.cfg", input);
    CamParamsZTM5().loadSystemFile(path);
    CamParamsZTM4().loadSystemFile(path);
    CamParamsZTM6 asRead;
    if (asRead.loadSystemFile(path))
        use(asRead);
    const QByteArray matched = withMatchingCrc(input);
    if (!matched.isEmpty() && matched != input) {
        fuzzsupport::put("system.cfg", matched);
        CamParamsZTM6 model;
        if (model.loadSystemFile(path))
            use(model);
    }
    return 0;
}
