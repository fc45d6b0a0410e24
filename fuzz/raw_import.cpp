// The field files of a project folder straight from the camera: "project.json", "wall.txt",
// "version.txt" and the laser-line camera's layout "house.dat", which moves scan folders into
// floor folders inside the (scratch) project folder.
#include "camera/cam_params_ztm4.h"
#include "fuzz_support.h"
#include "model/property.h"
#include "model/wall_thickness.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Widgets);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString project = fuzzsupport::freshScratch();
    for (const char* name : {"Ground_001/assets", "Ground_002", "Upper_7", "_Export", "stray"})
        fuzzsupport::folder(name);
    const auto piece = [&input] { return QByteArray::fromStdString(input.ConsumeRandomLengthString(1 << 16)); };
    if (input.ConsumeBool())
        fuzzsupport::put("project.json", piece());
    fuzzsupport::put("wall.txt", piece());
    fuzzsupport::put("version.txt", piece());
    fuzzsupport::put("house.dat", QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));

    Property property;
    property.setFolder(project);
    property.setCamParams(new CamParamsZTM4);
    int thickness = 0;
    property.importFromCameraData(thickness);
    readWallThickness(project);
    return 0;
}
