#include "imaging/gpano_xmp.h"

#include <stdexcept>
#include <string>

namespace {

// The identifier that marks an APP1 segment as XMP, terminating zero included.
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";
constexpr int kXmpIdentifierSize = sizeof kXmpIdentifier; // 29

constexpr unsigned char kMarkerPrefix = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kApp0 = 0xE0;
constexpr unsigned char kApp1 = 0xE1;

int byteAt(const QByteArray& data, qsizetype i)
{
    return static_cast<unsigned char>(data[i]);
}

QByteArray element(const char* name, const QByteArray& value)
{
    return QByteArray("   <GPano:") + name + '>' + value + "</GPano:" + name + ">\n";
}

} // namespace

QByteArray buildGPanoXmpPacket(const GPanoLayout& layout)
{
    if (layout.croppedWidth <= 0 || layout.croppedHeight <= 0 || layout.croppedLeft < 0 ||
        layout.croppedTop < 0 || layout.croppedWidth > layout.fullWidth - layout.croppedLeft ||
        layout.croppedHeight > layout.fullHeight - layout.croppedTop)
        throw std::invalid_argument("panorama layout: the cropped area must lie inside the full pano");

    QByteArray packet;
    packet += "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
    packet += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n";
    packet += " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
    packet += "  <rdf:Description rdf:about=\"\"\n";
    packet += "    xmlns:GPano=\"http://ns.google.com/photos/1.0/panorama/\">\n";
    packet += element("UsePanoramaViewer", "True");
    packet += element("ProjectionType", "equirectangular");
    packet += element("FullPanoWidthPixels", QByteArray::number(layout.fullWidth));
    packet += element("FullPanoHeightPixels", QByteArray::number(layout.fullHeight));
    packet += element("CroppedAreaImageWidthPixels", QByteArray::number(layout.croppedWidth));
    packet += element("CroppedAreaImageHeightPixels", QByteArray::number(layout.croppedHeight));
    packet += element("CroppedAreaLeftPixels", QByteArray::number(layout.croppedLeft));
    packet += element("CroppedAreaTopPixels", QByteArray::number(layout.croppedTop));
    packet += "  </rdf:Description>\n";
    packet += " </rdf:RDF>\n";
    packet += "</x:xmpmeta>\n";
    packet += "<?xpacket end=\"w\"?>";
    return packet;
}

QByteArray insertXmpSegment(const QByteArray& jpeg, const QByteArray& packet)
{
    const qsizetype payload = kXmpIdentifierSize + packet.size();
    if (payload > kMaxJpegSegmentPayload)
        throw std::runtime_error("XMP packet of " + std::to_string(packet.size()) +
                                 " bytes does not fit one JPEG segment");
    if (jpeg.size() < 4 || byteAt(jpeg, 0) != kMarkerPrefix || byteAt(jpeg, 1) != kStartOfImage)
        throw std::runtime_error("cannot add XMP metadata: the data is not a JPEG image");

    // JFIF requires its APP0 segment (and any APP0 extension) to come first.
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && byteAt(jpeg, at) == kMarkerPrefix && byteAt(jpeg, at + 1) == kApp0) {
        const qsizetype length = byteAt(jpeg, at + 2) << 8 | byteAt(jpeg, at + 3);
        if (length < 2 || at + 2 + length > jpeg.size())
            throw std::runtime_error("cannot add XMP metadata: the JPEG image has a broken APP0 segment");
        at += 2 + length;
    }

    const qsizetype length = 2 + payload;
    QByteArray segment;
    segment.reserve(2 + length);
    segment += char(kMarkerPrefix);
    segment += char(kApp1);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment.append(kXmpIdentifier, kXmpIdentifierSize);
    segment += packet;

    QByteArray result;
    result.reserve(jpeg.size() + segment.size());
    result += jpeg.left(at);
    result += segment;
    result += jpeg.mid(at);
    return result;
}
