#include "camera/http_response_reader.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

using State = HttpResponseReader::State;

// Feeds the response whole, then byte by byte, then in pieces of 7; all three must agree.
struct Read {
    State state;
    int status;
    QByteArray body;
};

Read readAll(const QByteArray& response, bool closeAfter, qsizetype piece, qsizetype maxBody)
{
    HttpResponseReader reader(maxBody);
    for (qsizetype at = 0; at < response.size() && reader.state() == HttpResponseReader::Reading; at += piece)
        reader.feed(QByteArrayView(response).sliced(at, qMin(piece, response.size() - at)));
    if (closeAfter)
        reader.finishAtClose();
    return {reader.state(), reader.status(), reader.body()};
}

Read readEveryWay(const QByteArray& response, bool closeAfter = false, qsizetype maxBody = 1024)
{
    const Read whole = readAll(response, closeAfter, qMax<qsizetype>(response.size(), 1), maxBody);
    for (const qsizetype piece : {qsizetype(1), qsizetype(7)}) {
        const Read split = readAll(response, closeAfter, piece, maxBody);
        EXPECT_EQ(split.state, whole.state) << "pieces of " << piece;
        EXPECT_EQ(split.status, whole.status) << "pieces of " << piece;
        EXPECT_EQ(split.body, whole.body) << "pieces of " << piece;
    }
    return whole;
}

TEST(HttpResponseReader, FramesTheBodyByLengthChunksOrClose)
{
    const Read fixed = readEveryWay("HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n{\"retCode\":0}trailing");
    EXPECT_EQ(fixed.state, HttpResponseReader::Complete);
    EXPECT_EQ(fixed.status, 200);
    EXPECT_EQ(fixed.body, "{\"retCode\":0}") << "bytes after the body are not part of it";

    const Read chunked = readEveryWay("HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n"
                                      "5;name=x\r\n{\"ret\r\n8\r\nCode\":0}\r\n0\r\nX-After: 1\r\n\r\n");
    EXPECT_EQ(chunked.state, HttpResponseReader::Complete);
    EXPECT_EQ(chunked.body, "{\"retCode\":0}");

    const QByteArray toClose = "HTTP/1.0 200 OK\r\nServer: cam\r\n\r\n{\"retcode\": 0}";
    EXPECT_EQ(readEveryWay(toClose).state, HttpResponseReader::Reading) << "more may come until the close";
    const Read closed = readEveryWay(toClose, true);
    EXPECT_EQ(closed.state, HttpResponseReader::Complete);
    EXPECT_EQ(closed.body, "{\"retcode\": 0}");

    const Read empty = readEveryWay("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(empty.state, HttpResponseReader::Complete);
    EXPECT_TRUE(empty.body.isEmpty());
}

TEST(HttpResponseReader, SkipsInterimResponses)
{
    const Read read = readEveryWay("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n{}");
    EXPECT_EQ(read.state, HttpResponseReader::Complete);
    EXPECT_EQ(read.status, 201);
    EXPECT_EQ(read.body, "{}");
}

TEST(HttpResponseReader, AResponseCutShortIsNotComplete)
{
    const Read cut = readEveryWay("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{}", true);
    EXPECT_EQ(cut.state, HttpResponseReader::Malformed);
    EXPECT_TRUE(cut.body.isEmpty()) << "the part that arrived is no body";
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n", true).state,
              HttpResponseReader::Malformed);
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nContent-", true).state, HttpResponseReader::Malformed);
    EXPECT_EQ(readEveryWay("", true).state, HttpResponseReader::Malformed);
}

TEST(HttpResponseReader, RefusesWhatIsNotHttp)
{
    const QList<QByteArray> broken{
        "hello\r\n\r\n",
        "HTTP/2 200\r\n\r\n",
        "HTTP/1.1 2x0 OK\r\n\r\n",
        "HTTP/1.1 99 Low\r\n\r\n",
        "HTTP/1.1 200 OK\r\nno colon here\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 1e3\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}XX0\r\n\r\n",
    };
    for (const QByteArray& response : broken)
        EXPECT_EQ(readEveryWay(response).state, HttpResponseReader::Malformed) << response.constData();
}

TEST(HttpResponseReader, HoldsNoMoreThanItsLimits)
{
    // Refused from what the head declares, before any of the body is held.
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nContent-Length: 1025\r\n\r\n").state, HttpResponseReader::TooLarge);
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n").state,
              HttpResponseReader::Malformed);
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n401\r\n").state,
              HttpResponseReader::TooLarge);
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n200\r\n" + QByteArray(512, 'a')
                           + "\r\n201\r\n")
                  .state,
              HttpResponseReader::TooLarge)
        << "the chunks together";
    EXPECT_EQ(readEveryWay("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(1025, 'a')).state, HttpResponseReader::TooLarge);
    const QByteArray endlessHead = "HTTP/1.1 200 OK\r\nX: " + QByteArray(HttpResponseReader::kMaxHeadBytes, 'h');
    EXPECT_EQ(readEveryWay(endlessHead).state, HttpResponseReader::TooLarge);
    const QByteArray endlessChunkLine = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        + QByteArray(HttpResponseReader::kMaxHeadBytes + 1, '0');
    EXPECT_EQ(readEveryWay(endlessChunkLine).state, HttpResponseReader::TooLarge);

    // A head or a line right at the limit is read, one byte longer is refused, however the
    // connection splits it (the pieces must not see a limit the whole does not).
    const QByteArray headStart = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: ";
    const QByteArray fullHead = headStart + QByteArray(HttpResponseReader::kMaxHeadBytes - headStart.size(), 'h');
    EXPECT_EQ(readEveryWay(fullHead + "\r\n\r\n").state, HttpResponseReader::Complete);
    EXPECT_EQ(readEveryWay(fullHead + "h\r\n\r\n").state, HttpResponseReader::TooLarge);
    const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray fullLine = "0;" + QByteArray(HttpResponseReader::kMaxHeadBytes - 2, 'x');
    EXPECT_EQ(readEveryWay(chunked + fullLine + "\r\n\r\n").state, HttpResponseReader::Complete);
    EXPECT_EQ(readEveryWay(chunked + fullLine + "x\r\n\r\n").state, HttpResponseReader::TooLarge);
}

} // namespace
