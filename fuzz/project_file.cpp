// The project object inside the enciphered project file: every property-level key, the buildings,
// their floors and layouts, read into a property (with a two-lens camera model) over a small
// project folder, then written again.
// The input is the deciphered JSON text; the envelope has a target of its own.
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
    const QJsonDocument document = QJsonDocument::fromJson(fuzzsupport::bytes(data, size));
    if (!document.isObject())
        return 0;
    const QString project = projectSkeleton();
    Property property;
    // With a camera model, as a two-lens project has one: tags are then placed through its lenses.
    property.setCamParams(smallTwoLensModel().release());
    property.readProjectObject(document.object(), project);
    property.toJson(false);
    property.toJson(true);
    return 0;
}
