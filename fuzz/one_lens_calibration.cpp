// Both one-lens calibration files, "system.cfg" blocks and their text forms, as each model reads
// them; whatever a model takes is written again and must read back as what was written. A block
// saved again reads back the same in everything; a text form read, written and read again holds
// the same floats, and once more the same text and the same values in both precisions; a block
// written as text (where the text form can hold its serial and values) reads back the same floats.
#include "fuzz_support.h"
#include "camera/cam_params_ztm4.h"
#include "camera/cam_params_ztm5.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename T>
void append(QByteArray& bytes, T value)
{
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// What the model holds, bit for bit: the float forms always, the double forms and the stamp when
// asked (the text form of the lidar camera reads every stamp as the current one).
QByteArray held(const CamParamsOneLens& model, bool doubles, bool stamp)
{
    using Lens = CamParamsOneLens;
    QByteArray bytes = QByteArray::fromStdString(model.systemSerial()) + '\0';
    if (stamp)
        append(bytes, model.stamp());
    for (int value : {model.timestamp(), model.imageWidth(), model.imageHeight(), model.laserCount()})
        append(bytes, value);
    for (int i = 0; i < Lens::LensTermCount; ++i) {
        append(bytes, model.lensTerm(Lens::LensTerm(i)));
        if (doubles)
            append(bytes, model.lensTermDouble(Lens::LensTerm(i)));
    }
    for (int i = 0; i < Lens::CalibrationValueCount; ++i) {
        append(bytes, model.calibrationValue(Lens::CalibrationValue(i)));
        if (doubles)
            append(bytes, model.calibrationValueDouble(Lens::CalibrationValue(i)));
    }
    if (const auto* laserLine = dynamic_cast<const CamParamsZTM4*>(&model)) {
        for (int i = 0; i < 7; ++i)
            append(bytes, laserLine->centroidSetting(i));
        for (const auto& laser : laserLine->lasers())
            for (float value : laser)
                append(bytes, value);
        if (doubles)
            for (const auto& laser : laserLine->lasersDouble())
                for (double value : laser)
                    append(bytes, value);
    }
    return bytes;
}

// Whether the text form can carry the model: one line for the serial, finite numbers.
bool textCanHold(const CamParamsOneLens& model)
{
    using Lens = CamParamsOneLens;
    const std::string serial = model.systemSerial();
    if (serial.size() > 23 || serial.find_first_of("\r\n") != std::string::npos)
        return false;
    for (int i = 0; i < Lens::LensTermCount; ++i)
        if (!std::isfinite(model.lensTermDouble(Lens::LensTerm(i))))
            return false;
    for (int i = 0; i < Lens::CalibrationValueCount; ++i)
        if (!std::isfinite(model.calibrationValue(Lens::CalibrationValue(i))))
            return false;
    if (const auto* laserLine = dynamic_cast<const CamParamsZTM4*>(&model))
        for (const auto& laser : laserLine->lasers())
            for (float value : laser)
                if (!std::isfinite(value))
                    return false;
    return true;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

template <typename Model>
void roundTrips(const QString& input, const QString& folder)
{
    Model block;
    if (block.loadSystemFile(input)) {
        require(block.saveSystemFile(folder + "/again.cfg"), "a block read cannot be saved");
        Model again;
        require(again.loadSystemFile(folder + "/again.cfg"), "a saved block is refused");
        require(held(again, true, true) == held(block, true, true), "a saved block reads back otherwise");
        if (textCanHold(block)) {
            require(block.saveTextFile(folder + "/block.txt"), "a block cannot be written as text");
            Model fromText;
            require(fromText.loadTextFile(folder + "/block.txt"), "a block written as text is refused");
            require(held(fromText, false, false) == held(block, false, false), "a block's text reads back otherwise");
        }
    }
    Model text;
    if (!text.loadTextFile(input))
        return;
    require(text.saveTextFile(folder + "/first.txt"), "a text read cannot be written");
    Model first;
    require(first.loadTextFile(folder + "/first.txt"), "a written text is refused");
    require(held(first, false, true) == held(text, false, true), "a written text reads back other floats");
    require(first.saveTextFile(folder + "/second.txt"), "a text read again cannot be written");
    Model second;
    require(second.loadTextFile(folder + "/second.txt"), "a text written again is refused");
    require(held(second, true, true) == held(first, true, true), "a text written again reads back otherwise");
    require(contents(folder + "/second.txt") == contents(folder + "/first.txt"), "a text written again differs");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = fuzzsupport::freshScratch();
    const QString input = fuzzsupport::put("system.cfg", fuzzsupport::bytes(data, size));
    roundTrips<CamParamsZTM4>(input, folder);
    roundTrips<CamParamsZTM5>(input, folder);
    return 0;
}
