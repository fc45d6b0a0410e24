// A floor: the floor object of the project file (with its layout of notes, scans, tags and
// reference lines) and a floor folder's own "floor.json", each read into a property over a small
// project folder, then written again.
#include "model/building.h"
#include "model/floor.h"
#include "model/floor_reader.h"
#include "model/property.h"
#include "project_skeleton.h"
#include "small_two_lens_model.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Widgets);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QString project = projectSkeleton();
    fuzzsupport::put("New/floor.json", input);
    Property property;
    property.setFolder(project);
    property.setCamParams(smallTwoLensModel().release());
    auto* building = new Building(&property);
    if (Floor* floor = loadFloorJson(project + "/New", building))
        floor->toJson(false);
    const QJsonDocument document = QJsonDocument::fromJson(input);
    if (document.isObject()) {
        if (Floor* floor = readFloorObject(document.object(), building)) {
            floor->toJson(false);
            floor->toJson(true);
        }
    }
    return 0;
}
