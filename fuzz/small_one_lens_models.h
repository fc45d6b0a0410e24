#pragma once

#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

// One-lens models of 64-pixel shots, made through their calibration text form: the laser-line
// camera with the three lasers of the laser-line sample (tests/support/laser_line_project.py with
// 64-pixel shots in 96-pixel frames), and the lidar camera with a lens that corrects nothing.
// The readers under test need a model, not a real calibration.
namespace fuzzsupport {

template <typename Model>
std::unique_ptr<Model> modelFromText(const char* text)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("system.txt"));
    auto model = std::make_unique<Model>();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0 || !file.flush())
        std::abort();
    file.close();
    if (!model->loadTextFile(file.fileName()))
        std::abort();
    return model;
}

inline std::unique_ptr<CamParamsZTM4> smallLaserLineCamera()
{
    return modelFromText<CamParamsZTM4>(
        "2128509\nZT4-00512\n20190402\n96\n64\n3\n2\n41\n25\n60000\n2\n9\n3\n"
        "23.5955048\n32.168541\n31.88764\n0.99849999\n3.90625019e-06\n0\n0\n1.22070314e-05\n-9.76562478e-06\n0\n"
        "-300\n-0.00999999978\n0.999837458\n0.0149999997\n0.00100000005\n-0.00200000009\n0.00150000001\n"
        "-0.000500000024\n0.000199999995\n-9.99999975e-05\n0\n18.870142\n"
        "-340\n0\n0.999887466\n0.0149999997\n0.00200000009\n-0.00200000009\n0.00150000001\n"
        "-0.000500000024\n0.000199999995\n-9.99999975e-05\n20.7577839\n43.5792999\n"
        "-380\n0.00999999978\n0.999837458\n0.0149999997\n0.00300000003\n-0.00200000009\n0.00150000001\n"
        "-0.000500000024\n0.000199999995\n-9.99999975e-05\n45.466938\n64\n"
        "0\n3.22900009\n1.00106001\n1.00003004\n1\n1.01\n1.02\n1.03\n1.04\n1.05\n1.06\n1.07\n1.08\n1.09\n");
}

inline std::unique_ptr<CamParamsZTM5> smallLidarCamera()
{
    return modelFromText<CamParamsZTM5>("2128511\nMS2200417\n20230611\n64\n64\n"
                                        "24.064\n32\n32\n1\n0\n0\n0\n0\n0\n0\n"
                                        "3.229\n1.00106\n1.000033\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n");
}

} // namespace fuzzsupport
