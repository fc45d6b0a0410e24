// What the program writes must read back as what it wrote. Each record the program keeps (the
// project file, a floor's record, a scan's record "pano.dat") is read with a hostile number in
// one place, written, read again and written again: the two writings must be the same. A value
// the reader takes but the writer cannot store (a float infinity saved as null) changes between
// them, and so does one the reader narrows differently the second time.
#include "base/cipher.h"
#include "model/floor_reader.h"
#include "model/note.h"
#include "model/panorama.h"
#include "model/reference_line.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/project_file_reader.h"
#include "support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace testsupport;

namespace {

// Numbers a damaged or hostile record may hold where a writer puts one: beyond float, int and
// 64-bit range, the smallest of each precision, negative zero, halves and long fractions.
const double kHostileNumbers[] = {1e39, -1e39, 3.4028234663852886e38, 1e300, -1e300, 1.7976931348623157e308,
                                  1e-45, 1e-320, -0.0, 0.1, 2.5, -2.5, 123456789.123456789, 9007199254740993.0,
                                  2147483648.0, -2147483649.0, 1e19, 4294967297.0};

// Where a number sits in a record: object keys and array indices from the top.
using JsonPath = QList<QJsonValue>;

// The paths of the record's numbers, except those under a key of another record's test.
void collectNumbers(const QJsonValue& value, const JsonPath& at, const QString& skippedKey, QList<JsonPath>& paths)
{
    if (value.isDouble())
        paths.append(at);
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            if (it.key() != skippedKey)
                collectNumbers(it.value(), at + JsonPath{it.key()}, skippedKey, paths);
    }
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            collectNumbers(array[i], at + JsonPath{double(i)}, skippedKey, paths);
    }
}

QJsonValue replaced(const QJsonValue& value, const JsonPath& path, qsizetype depth, double number)
{
    if (depth == path.size())
        return number;
    if (path[depth].isString()) {
        QJsonObject object = value.toObject();
        const QString key = path[depth].toString();
        object[key] = replaced(object[key], path, depth + 1, number);
        return object;
    }
    QJsonArray array = value.toArray();
    const qsizetype index = qsizetype(path[depth].toDouble());
    array[index] = replaced(array[index], path, depth + 1, number);
    return array;
}

QString pathText(const JsonPath& path)
{
    QString text;
    for (const QJsonValue& step : path)
        text += step.isString() ? "." + step.toString() : QStringLiteral("[%1]").arg(step.toInteger());
    return text;
}

std::string indented(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}

// Every leaf of a record by its path, for showing where two writings differ.
void collectLeaves(const QJsonValue& value, const QString& at, QMap<QString, QJsonValue>& leaves)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            collectLeaves(it.value(), at + "." + it.key(), leaves);
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            collectLeaves(array[i], at + QStringLiteral("[%1]").arg(i), leaves);
    } else {
        leaves[at] = value;
    }
}

std::string differences(const QJsonObject& first, const QJsonObject& second)
{
    QMap<QString, QJsonValue> a, b;
    collectLeaves(first, {}, a);
    collectLeaves(second, {}, b);
    std::string text;
    const auto shown = [](const QMap<QString, QJsonValue>& leaves, const QString& key) {
        return leaves.contains(key) ? QJsonDocument(QJsonArray{leaves[key]}).toJson(QJsonDocument::Compact).toStdString()
                                    : std::string("(missing)");
    };
    for (const QString& key : QSet<QString>(a.keyBegin(), a.keyEnd()) + QSet<QString>(b.keyBegin(), b.keyEnd()))
        if (a.value(key) != b.value(key) || a.contains(key) != b.contains(key))
            text += "  " + key.toStdString() + ": " + shown(a, key) + " then " + shown(b, key) + "\n";
    return text;
}

// Every number of the record, each hostile number in its place in turn, read and written twice.
void expectWritingsReadBackEqual(const QJsonObject& record,
                                 const std::function<QJsonObject(const QJsonObject&)>& readAndWrite,
                                 const QString& skippedKey = {})
{
    QList<JsonPath> paths;
    collectNumbers(record, {}, skippedKey, paths);
    ASSERT_GT(paths.size(), 10);
    int failures = 0;
    for (const JsonPath& path : std::as_const(paths)) {
        for (double number : kHostileNumbers) {
            const QJsonObject first = readAndWrite(replaced(record, path, 0, number).toObject());
            const QJsonObject second = readAndWrite(first);
            if (first == second)
                continue;
            ADD_FAILURE() << pathText(path).toStdString() << " = " << number << " is written as it was read, then "
                          << "differently:\n" << differences(first, second);
            if (++failures == 40)
                return;
        }
    }
}

QJsonObject decipheredJson(const QString& path)
{
    QByteArray data = readFile(path);
    EXPECT_TRUE(decipherBytes(data, CipherKind::Data));
    return QJsonDocument::fromJson(data).object();
}

Tag placedTag(double u, double v, double d)
{
    Tag tag;
    tag.u = tag.originalU = u;
    tag.v = tag.originalV = v;
    tag.d = d;
    tag.title = "Boiler";
    return tag;
}

// A property with every kind of record: two buildings, floors with scans that carry tags and
// image parameters, a note and a reference line.
struct FurnishedProject : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Panorama* scan = addUserScan(ground, "001");

    FurnishedProject()
    {
        scan->setPos(1200.5, -340.25);
        scan->setRotation(30);
        scan->setInitAngle(15);
        scan->setCompass(271.5f);
        for (int i = 0; i < ImageParams::COUNT; ++i)
            scan->imageParams()[i] = 0.125f * float(i + 1);
        scan->appendTag(placedTag(0.25, 0.4, 2500.5));
        Panorama* other = addUserScan(addFloor(addBuilding("Garage"), "Upper"), "002");
        other->setPos(-20, 40);
        ground->addItem(new Note(QPointF(10.5, 20), "Kitchen"));
        ReferenceLine::create(ground, {0, 0}, {400.5, 7});
        ground->setCeilingHeight(2400);
        ground->setActualExtWallThickness(250);
        property->setInitialPano(scan);
        EXPECT_TRUE(property->save()); // issues every id
    }
};

} // namespace

// One image parameter no float holds used to be kept as infinity, saved as null, and the next load
// reset all of the scan's alignment and colour values.
TEST(RecordRoundTrip, AScanRecordWithAHostileNumberAnywhereIsWrittenAsItReadsBack)
{
    FurnishedProject f;
    const QJsonObject record = f.scan->toJson(false);
    ASSERT_EQ(record["imageParams"].toArray().size(), ImageParams::COUNT);
    LogCapture quiet;
    const auto readAndWrite = [&](const QJsonObject& json) {
        Panorama* read = Panorama::createFromFolder(json, "001", f.ground);
        EXPECT_NE(read, nullptr);
        if (!read)
            return QJsonObject();
        const QJsonObject written = read->toJson(false);
        f.ground->deletePano(read, false);
        return written;
    };
    expectWritingsReadBackEqual(record, readAndWrite);

    // Turns set in the scene are kept in degrees and written in radians; the two conversions are
    // no exact inverses, yet what was written once is written again after a load.
    for (int i = 0; i < 400; ++i) {
        const double degrees = std::ldexp(double((i * 2654435761u) % 1000003u) - 500001.0, -(i % 24));
        f.scan->setRotation(degrees);
        const QJsonObject written = f.scan->toJson(false);
        ASSERT_EQ(readAndWrite(written)["rot"].toDouble(), written["rot"].toDouble()) << degrees << " degrees";
    }

    // And through the scan's own file, "pano.dat", enciphered.
    const QString file = f.scan->folder() + "/pano.dat";
    ASSERT_TRUE(f.scan->writePanoDat());
    const QJsonObject stored = decipheredJson(file);
    ASSERT_EQ(stored, f.scan->toJson(false));
    Panorama* read = Panorama::createFromFolder(QJsonObject(), "001", f.ground);
    ASSERT_NE(read, nullptr);
    ASSERT_TRUE(read->writePanoDat());
    EXPECT_EQ(decipheredJson(file), stored);
}

TEST(RecordRoundTrip, AFloorRecordWithAHostileNumberAnywhereIsWrittenAsItReadsBack)
{
    FurnishedProject f;
    const QJsonObject record = f.ground->toJson(false);
    LogCapture quiet;
    expectWritingsReadBackEqual(record, [&](const QJsonObject& json) {
        Property property;
        property.setFolder(f.path());
        Floor* read = readFloorObject(json, new Building(&property));
        return read ? read->toJson(false) : QJsonObject();
    });
}

TEST(RecordRoundTrip, AProjectFileWithAHostileNumberAnywhereIsWrittenAsItReadsBack)
{
    FurnishedProject f;
    const QJsonObject record = readProjectFile(f.path("quoril.qjs"));
    ASSERT_EQ(record["buildings"].toArray().size(), 2);
    LogCapture quiet;
    expectWritingsReadBackEqual(record, [&](const QJsonObject& json) {
        Property property;
        property.readProjectObject(json, f.path());
        return property.toJson(false);
    }, "floors"); // a floor's record has a test of its own

    // And through the file itself: saved, opened and saved again, byte for byte.
    Property reread;
    reread.readProjectObject(record, f.path());
    ASSERT_TRUE(reread.save());
    EXPECT_EQ(indented(readProjectFile(f.path("quoril.qjs"))), indented(record));
}
