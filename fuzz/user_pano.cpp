// A user's panoramic picture made into a scan's pictures: the refusal at import, the preview and
// the full pano. Building is costly, so it runs for pictures at most 2048 pixels wide; larger
// ones are refused or bounded by size alone, which is checked for every input: no pano is larger
// than the program's own reader takes. A picture written reads back at its size.
#include "fuzz_support.h"
#include "imaging/image_io.h"
#include "imaging/pic_file.h"
#include "imaging/user_pano.h"

#include <QImageReader>

#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = fuzzsupport::freshScratch();
    const QString picture = fuzzsupport::put("u.jpg", fuzzsupport::bytes(data, size));
    const QSize declared = QImageReader(picture).size();
    const bool refused = !declared.isValid() || !userPictureRefusal(declared).isEmpty();
    if (declared.isValid() && !withinPixelBudget(userPanoSize(declared)))
        std::abort();
    if (!refused && declared.width() > 2048)
        return 0;
    // The preview is always 1800 x 900, the costliest part: made for a quarter of the inputs
    // (chosen by their length, so that every run repeats).
    try {
        if (size % 4 == 0) {
            writeUserPreview(picture, folder + "/t.pic");
            if (loadPicImage(folder + "/t.pic").size() != QSize(1800, 900))
                std::abort();
        }
    } catch (const std::runtime_error&) {
    }
    try {
        writeUserPano(picture, folder + "/s.pic");
        if (loadPicImage(folder + "/s.pic").size() != userPanoSize(declared))
            std::abort();
    } catch (const std::runtime_error&) {
        // A picture that makes no pano is reported to the person; not a fault.
    }
    return 0;
}
