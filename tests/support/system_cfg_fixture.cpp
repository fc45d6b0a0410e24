#include "support/system_cfg_fixture.h"

#include "camera/cam_params_one_lens.h"
#include "camera/cam_params_ztm6.h"
#include "support/test_support.h"

#include <QJsonDocument>

#include <stdexcept>

namespace testsupport {

QJsonObject makeSystemCfg(const QString& path, const QStringList& options)
{
    const QString script = QStringLiteral(QUORIL_SOURCE_DIR "/tests/support/make_system_cfg.py");
    const ProcessResult result = runProcess(systemPython(), QStringList{script, path, "--describe"} + options);
    if (result.exitCode != 0)
        throw std::runtime_error("make_system_cfg.py failed: " + result.err.toStdString());
    QJsonParseError error{};
    const QJsonDocument description = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError || !description.isObject())
        throw std::runtime_error("make_system_cfg.py gave no description");
    return description.object();
}

QString calibrationState(const CamParams& model)
{
    QString text = QString::fromStdString(model.systemSerial()) + " " + QString::number(model.timestamp());
    if (const auto* ztm6 = dynamic_cast<const CamParamsZTM6*>(&model))
        return text + QByteArray::fromStdString(ztm6->serializeParameterBlock()).toHex();
    using Lens = CamParamsOneLens;
    const auto& lens = dynamic_cast<const Lens&>(model);
    text += QString(" %1 %2 %3 %4").arg(lens.stamp()).arg(lens.laserCount()).arg(lens.imageWidth()).arg(lens.imageHeight());
    const auto both = [](double wide, float narrow) {
        return QString(" %1/%2").arg(wide, 0, 'g', 17).arg(double(narrow), 0, 'g', 9);
    };
    for (int i = 0; i < Lens::LensTermCount; ++i)
        text += both(lens.lensTermDouble(Lens::LensTerm(i)), lens.lensTerm(Lens::LensTerm(i)));
    for (int i = 0; i < Lens::CalibrationValueCount; ++i)
        text += both(lens.calibrationValueDouble(Lens::CalibrationValue(i)), lens.calibrationValue(Lens::CalibrationValue(i)));
    return text;
}

} // namespace testsupport
