// A scan's own record "pano.dat" as a scan reads it from its folder, then writes it again. The
// input is the deciphered JSON text; it is enciphered into the file here.
#include "base/cipher.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "project_skeleton.h"

#include <QJsonObject>

#include <exception>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Widgets);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray record = fuzzsupport::bytes(data, size);
    encipherBytes(record, CipherKind::Data);
    const QString project = projectSkeleton();
    fuzzsupport::put("Ground/001/pano.dat", record);
    Property property;
    property.setFolder(project);
    auto* floor = new Floor(new Building(&property));
    floor->setDir("Ground");
    try {
        if (Panorama* pano = Panorama::createFromFolder(QJsonObject(), "001", floor)) {
            pano->toJson(true);
            pano->writePanoDat();
        }
    } catch (const std::exception&) {
        // A scan that cannot be made is reported to the person; not a fault.
    }
    return 0;
}
