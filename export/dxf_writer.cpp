#include "export/dxf_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace {

void appendInteger(std::string& out, long long value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// Fixed point with one decimal. The exact binary value is rounded to tenths with ties away from
// zero (as Qt's own number formatting does), in integer arithmetic: |value| = mantissa * 2^shift
// with a 53-bit mantissa, so ten times it fits 57 bits and the rounding is exact.
void appendReal(std::string& out, double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
    if (biasedExponent == 0x7FF) { // NaN or infinity
        out += "0.0";
        return;
    }
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int shift = -1074; // subnormal
    if (biasedExponent != 0) {
        mantissa |= std::uint64_t{1} << 52;
        shift = biasedExponent - 1075;
    }
    const std::uint64_t scaled = mantissa * 10u;

    std::uint64_t tenths = 0;
    if (shift >= 0) {
        if (shift > 6) {
            // Beyond 2^59 every double is an integer far outside any drawing; no tie can occur,
            // so the library's exact formatting gives the same text.
            char digits[400];
            const auto result = std::to_chars(digits, digits + sizeof digits, value,
                                              std::chars_format::fixed, 1);
            out.append(digits, result.ptr);
            return;
        }
        tenths = scaled << shift;
    } else if (-shift < 64) {
        const int s = -shift;
        const std::uint64_t remainder = scaled & ((std::uint64_t{1} << s) - 1);
        tenths = scaled >> s;
        if (remainder >= (std::uint64_t{1} << (s - 1)))
            ++tenths;
    } // else: far below 0.05, rounds to zero

    if (value < 0 && tenths != 0)
        out += '-';
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, tenths / 10);
    out.append(digits, result.ptr);
    out += '.';
    out += static_cast<char>('0' + tenths % 10);
}

// Upper-case hexadecimal without leading zeros, as handles are written.
void appendHex(std::string& out, quint32 value)
{
    char digits[8];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, 16);
    for (char* c = digits; c != result.ptr; ++c)
        out += (*c >= 'a' && *c <= 'f') ? static_cast<char>(*c - 'a' + 'A') : *c;
}

std::string handleText(quint32 value)
{
    std::string text;
    appendHex(text, value);
    return text;
}

} // namespace

// Appends groups (code line, value line) to the writer's buffer.
class DxfWriter::Groups {
public:
    explicit Groups(std::string& out) : m_out(out) {}

    Groups& text(int code, std::string_view value)
    {
        appendCode(code);
        m_out.append(value);
        m_out += '\n';
        return *this;
    }
    Groups& text(int code, const char* value) { return text(code, std::string_view(value)); }
    Groups& text(int code, const QString& value)
    {
        appendCode(code);
        for (const QChar c : value) {
            if (c.unicode() >= 0x80) { // rare: names beyond ASCII
                m_out.append(value.toStdString());
                m_out += '\n';
                return *this;
            }
        }
        for (const QChar c : value)
            m_out += static_cast<char>(c.unicode());
        m_out += '\n';
        return *this;
    }
    Groups& integer(int code, long long value)
    {
        appendCode(code);
        appendInteger(m_out, value);
        m_out += '\n';
        return *this;
    }
    Groups& real(int code, double value)
    {
        appendCode(code);
        appendReal(m_out, value);
        m_out += '\n';
        return *this;
    }
    Groups& handle(int code, quint32 value)
    {
        appendCode(code);
        appendHex(m_out, value);
        m_out += '\n';
        return *this;
    }
    // x as it is, y negated: scene y grows downwards, the drawing's upwards.
    Groups& point(int xCode, double x, double y)
    {
        real(xCode, x);
        return real(xCode + 10, -y);
    }

private:
    void appendCode(int code)
    {
        appendInteger(m_out, code);
        m_out += '\n';
    }

    std::string& m_out;
};

DxfWriter::DxfWriter(QTextStream* stream) : m_stream(stream) {}

void DxfWriter::send()
{
    const bool ascii = std::all_of(m_buffer.begin(), m_buffer.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const auto size = static_cast<qsizetype>(m_buffer.size());
    if (ascii) // the usual case, and the cheap one: no intermediate string
        *m_stream << QLatin1StringView(m_buffer.data(), size);
    else
        *m_stream << QByteArray::fromRawData(m_buffer.data(), size); // read as UTF-8
    m_buffer.clear();
}

void DxfWriter::setExtents(const QRectF& rect)
{
    m_extents = rect;
}

void DxfWriter::writeString(int code, const QString& value)
{
    Groups(m_buffer).text(code, value);
    send();
}

void DxfWriter::writeReal(int code, double value)
{
    Groups(m_buffer).real(code, value);
    send();
}

void DxfWriter::beginSection(const QString& name)
{
    Groups(m_buffer).text(0, "SECTION").text(2, name);
    send();
}

void DxfWriter::beginHeader()
{
    beginSection(QStringLiteral("HEADER"));
}

void DxfWriter::endSection()
{
    Groups(m_buffer).text(0, "ENDSEC");
    send();
}

void DxfWriter::writeEof()
{
    Groups(m_buffer).text(0, "EOF");
    send();
}

void DxfWriter::writeExtents(const QRectF& rect)
{
    m_extents = rect;
    Groups(m_buffer)
        .text(9, "$EXTMIN").point(10, rect.left(), rect.bottom())
        .text(9, "$EXTMAX").point(10, rect.right(), rect.top());
    send();
}

void DxfWriter::writeTables(const QList<DxfLayer>& layers)
{
    Groups g(m_buffer);
    const auto tableHead = [&g](std::string_view name, std::string_view handle, int count) {
        g.text(0, "TABLE").text(2, name).text(5, handle).text(330, "0")
            .text(100, "AcDbSymbolTable").integer(70, count);
    };
    const auto recordHead = [&g](std::string_view type, std::string_view handle,
                                 std::string_view owner, std::string_view subclass) {
        g.text(0, type).text(5, handle).text(330, owner).text(100, "AcDbSymbolTableRecord")
            .text(100, subclass);
    };
    const auto endTable = [&g] { g.text(0, "ENDTAB"); };

    tableHead("VPORT", "8", 1);
    {
        recordHead("VPORT", handleText(nextHandle()), "8", "AcDbViewportTableRecord");
        const QPointF centre = m_extents.center();
        g.text(2, "*ACTIVE").integer(70, 0)
            .real(10, 0.0).real(20, 0.0).real(11, 1.0).real(21, 1.0)
            .point(12, centre.x(), centre.y())
            .real(13, 0.0).real(23, 0.0).real(14, 10.0).real(24, 10.0)
            .real(15, 10.0).real(25, 10.0).real(16, 0.0).real(26, 0.0).real(36, 1.0)
            .real(17, 0.0).real(27, 0.0).real(37, 0.0)
            .real(40, m_extents.height()).real(41, 1.0).real(42, 50.0).real(43, 0.0)
            .real(44, 0.0).real(50, 0.0).real(51, 0.0)
            .integer(71, 0).integer(72, 100).integer(73, 1).integer(74, 3).integer(75, 0)
            .integer(76, 0).integer(77, 0).integer(78, 0).integer(281, 0).integer(65, 1)
            .real(110, 0.0).real(120, 0.0).real(130, 0.0)
            .real(111, 1.0).real(121, 0.0).real(131, 0.0)
            .real(112, 0.0).real(122, 1.0).real(132, 0.0)
            .integer(79, 0).real(146, 0.0);
    }
    endTable();

    tableHead("LTYPE", "5", 4);
    struct LineType { std::string_view handle, name, description; };
    for (const LineType& type : {LineType{"14", "ByBlock", ""}, LineType{"15", "ByLayer", ""},
                                 LineType{"16", "Continuous", "Solid line"}}) {
        recordHead("LTYPE", type.handle, "5", "AcDbLinetypeTableRecord");
        g.text(2, type.name).integer(70, 0).text(3, type.description)
            .integer(72, 65).integer(73, 0).real(40, 0.0);
    }
    endTable();

    tableHead("LAYER", "2", 1);
    const auto layerTail = [&g](int flags, int colour) {
        g.integer(70, flags).integer(62, colour).text(6, "Continuous").integer(370, -3)
            .text(390, "F");
    };
    {
        recordHead("LAYER", "10", "2", "AcDbLayerTableRecord");
        g.text(2, "0");
        layerTail(0, 0);
    }
    for (const DxfLayer& layer : layers) {
        recordHead("LAYER", handleText(nextHandle()), "2", "AcDbLayerTableRecord");
        g.text(2, layer.name);
        layerTail(layer.flags, layer.colour);
    }
    endTable();

    tableHead("STYLE", "3", 2);
    {
        recordHead("STYLE", handleText(nextHandle()), "3", "AcDbTextStyleTableRecord");
        g.text(2, "STANDARD").integer(70, 0).real(40, 0.0).real(41, 1.0).real(50, 0.0)
            .integer(71, 0).real(42, 1.0).text(3, "txt").text(4, "");
    }
    endTable();

    tableHead("VIEW", "6", 0);
    endTable();
    tableHead("UCS", "7", 0);
    endTable();

    tableHead("APPID", "9", 1);
    {
        recordHead("APPID", "12", "9", "AcDbRegAppTableRecord");
        g.text(2, "ACAD").integer(70, 0);
    }
    endTable();

    tableHead("DIMSTYLE", "A", 2);
    g.text(100, "AcDbDimStyleTable").integer(71, 0);
    endTable();

    tableHead("BLOCK_RECORD", "1", 2);
    for (const auto& [handle, name] : {std::pair<std::string_view, std::string_view>{"1F", "*Model_Space"},
                                       {"1E", "*Paper_Space"}}) {
        recordHead("BLOCK_RECORD", handle, "1", "AcDbBlockTableRecord");
        g.text(2, name);
    }
    endTable();
    send();
}

void DxfWriter::writeBlocks()
{
    Groups g(m_buffer);
    const auto block = [&g](std::string_view handle, std::string_view owner, std::string_view name) {
        g.text(0, "BLOCK").text(5, handle).text(330, owner).text(100, "AcDbEntity").text(8, "0")
            .text(100, "AcDbBlockBegin").text(2, name).integer(70, 0)
            .real(10, 0.0).real(20, 0.0).real(30, 0.0).text(3, name).text(1, "");
    };
    const auto blockEnd = [&g](std::string_view handle) {
        g.text(0, "ENDBLK").text(5, handle).text(330, "1F").text(100, "AcDbEntity").text(8, "0")
            .text(100, "AcDbBlockEnd");
    };
    block("20", "1F", "*Model_Space");
    blockEnd("21");
    block("1C", "1B", "*Paper_Space");
    blockEnd("1D");
    send();
}

void DxfWriter::writeObjects()
{
    Groups(m_buffer)
        .text(0, "DICTIONARY").text(5, "C").text(330, "0").text(100, "AcDbDictionary")
        .integer(281, 1).text(3, "ACAD_GROUP").text(350, "D")
        .text(0, "DICTIONARY").text(5, "D").text(330, "C").text(100, "AcDbDictionary")
        .integer(281, 1);
    send();
}

void DxfWriter::writePoint(const QString& layer, const QPointF& p)
{
    Groups(m_buffer)
        .text(0, "POINT").handle(5, nextHandle()).text(100, "AcDbEntity").text(8, layer)
        .text(100, "AcDbPoint").point(10, p.x(), p.y());
    send();
}

void DxfWriter::writePolyline(const QString& layer, const QPainterPath& path, int closed)
{
    Groups g(m_buffer);
    const int count = path.elementCount();
    int start = 0;
    while (start < count) {
        int end = start + 1;
        while (end < count && !path.elementAt(end).isMoveTo())
            ++end;
        g.text(0, "LWPOLYLINE").handle(5, nextHandle()).text(100, "AcDbEntity").text(8, layer)
            .text(100, "AcDbPolyline").integer(90, end - start).integer(70, closed);
        for (int i = start; i < end; ++i) {
            const QPainterPath::Element& e = path.elementAt(i);
            g.point(10, e.x, e.y);
        }
        start = end;
    }
    send();
}
