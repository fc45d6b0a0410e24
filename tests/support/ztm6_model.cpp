#include "support/ztm6_model.h"

#include <cmath>
#include <limits>

namespace testsupport {

std::unique_ptr<CamParamsZTM6> makeIdentityZtm6(int lensHeight, int lensRecords)
{
    auto model = std::make_unique<CamParamsZTM6>();
    model->header().IMG_WIDTH = 2 * lensHeight;
    model->header().IMG_HEIGHT = lensHeight;
    model->header().NUM_LENS = lensRecords;
    model->lenses().assign(static_cast<size_t>(lensRecords), Ztm6LensRecord{});
    for (int k = 0; k < lensRecords; ++k) {
        Ztm6LensRecord& lens = model->lenses()[static_cast<size_t>(k)];
        lens.U0 = k == 0 ? static_cast<float>(lensHeight) : 0.0f;
        lens.V0 = static_cast<float>(lensHeight) / 2.0f;
    }
    return model;
}

QByteArray makeLensImage(int width, int height, const std::function<void(int, int, uint8_t*)>& fill)
{
    QByteArray image(static_cast<qsizetype>(width) * height * 3, '\0');
    auto* data = reinterpret_cast<uint8_t*>(image.data());
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            fill(column, row, data + (static_cast<size_t>(row) * width + column) * 3);
    return image;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t count)
{
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0.0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(count)));
}

} // namespace testsupport
