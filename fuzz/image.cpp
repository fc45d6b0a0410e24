// Image files as the readers meet them: a lens image of a two-lens scan, a scan's enciphered
// preview, and the plain image reader beneath them all (a user's picture has a target of its own).
#include "base/cipher.h"
#include "fuzz_support.h"
#include "imaging/image_io.h"
#include "imaging/pic_file.h"
#include "small_two_lens_model.h"

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
    return 0;
}
