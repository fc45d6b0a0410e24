// A reply of the camera's HTTP service, read as the connection hands it over: whatever the bytes
// and however they are split, the reader settles the same way as when they come at once, holds no
// more body than its limit, and stays settled whatever comes after.
#include "camera/http_response_reader.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

struct Outcome {
    HttpResponseReader::State state;
    int status;
    QByteArray body;
    bool operator==(const Outcome&) const = default;
};

Outcome read(QByteArrayView response, qsizetype piece, qsizetype maxBody, bool closeAfter)
{
    HttpResponseReader reader(maxBody);
    for (qsizetype at = 0; at < response.size(); at += piece) {
        const HttpResponseReader::State before = reader.state();
        const HttpResponseReader::State after = reader.feed(response.sliced(at, qMin(piece, response.size() - at)));
        if (before != HttpResponseReader::Reading && after != before)
            std::abort();
        if (reader.body().size() > maxBody)
            std::abort();
    }
    if (closeAfter)
        reader.finishAtClose();
    const bool failed = reader.state() == HttpResponseReader::Malformed || reader.state() == HttpResponseReader::TooLarge;
    if (failed && !reader.body().isEmpty())
        std::abort();
    return {reader.state(), reader.status(), reader.body()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzzsupport::start(argc, argv, fuzzsupport::App::Core);
    return 0;
}

// The switches come from the input's last bytes: the piece size, the body limit, the close.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto piece = static_cast<qsizetype>(input.ConsumeIntegralInRange<int>(1, 64));
    const auto maxBody = static_cast<qsizetype>(input.ConsumeIntegralInRange<int>(0, 65535));
    const bool closeAfter = input.ConsumeBool();
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArrayView response(rest.data(), static_cast<qsizetype>(rest.size()));
    const Outcome whole = read(response, qMax<qsizetype>(response.size(), 1), maxBody, closeAfter);
    if (read(response, piece, maxBody, closeAfter) != whole)
        std::abort();
    return 0;
}
