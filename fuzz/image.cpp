// Image files as the readers meet them: a lens image of a two-lens scan, a user's panoramic
// picture, a scan's enciphered preview, and the plain image reader beneath them all.
#include "base/cipher.h"
#include "fuzz_support.h"
#include "imaging/image_io.h"
#include "imaging/pic_file.h"
#include "imaging/user_pano.h"
#include "small_two_lens_model.h"

#include <QImageReader>

#include <stdexcept>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = fuzzsupport::freshScratch();
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QString picture = fuzzsupport::put("h1.jpg", input);
    QByteArray envelope = input;
    encipherBytes(envelope, CipherKind::Data);
    const QString preview = fuzzsupport::put("t.pic", envelope);

    QByteArray rgb;
    int width = 0, height = 0;
    loadImageRgb(picture, rgb, width, height, true, false, true);
    try {
        smallTwoLensModel()->loadFisheyeImage(folder, 0, rgb, false);
    } catch (const std::runtime_error&) {
    }
    try {
        loadPicImage(preview);
    } catch (const std::runtime_error&) {
    }
    // The picture of a user scan is scaled and written as a preview: costly, so only for some
    // small pictures (chosen by the input itself, so that every run repeats) and those refused.
    const QSize declared = QImageReader(picture).size();
    const bool refused = !declared.isValid() || !withinPixelBudget(declared);
    if (refused || (size % 8 == 0 && qint64(declared.width()) * declared.height() <= 256 * 256)) {
        try {
            writeUserPreview(picture, folder + "/preview.pic");
        } catch (const std::runtime_error&) {
        }
    }
    return 0;
}
