#include "model/raw_import.h"

#include "base/binary_read.h"
#include "base/file_names.h"
#include "camera/cam_params_ztm4.h"
#include "model/constants.h"
#include "model/property.h"
#include "model/wall_thickness.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <climits>
#include <cmath>
#include <stdexcept>

namespace {

constexpr char kHouseLayoutFileName[] = "house.dat";
constexpr qint64 kFirstLineLimit = 20;
constexpr qint64 kMaxProjectJsonBytes = 16 * 1024 * 1024;
constexpr qint64 kMaxHouseDatBytes = 64 * 1024 * 1024;

QByteArray readFirstLine(const QString& path, bool* opened = nullptr)
{
    QFile file(path);
    const bool ok = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (opened)
        *opened = ok;
    return ok ? file.readLine(kFirstLineLimit) : QByteArray();
}

// An integer key of a field file that may hold any number: rounded when finite and in range.
int roundedInt(const QJsonValue& value)
{
    const double number = value.toDouble(0.0);
    if (!std::isfinite(number) || std::fabs(number) > static_cast<double>(INT_MAX))
        return 0;
    return static_cast<int>(std::round(number));
}

class HouseDatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const corruptFile = "File is corrupted.";

qint32 readInt32(QIODevice& device, const char* failure = corruptFile)
{
    const QByteArray bytes = device.read(4);
    if (bytes.size() != 4)
        throw HouseDatError(failure);
    return qFromLittleEndian<qint32>(bytes.constData());
}

void skipBytes(QIODevice& device, qint64 count)
{
    if (device.bytesAvailable() < count || device.skip(count) != count)
        throw HouseDatError(corruptFile);
}

void requireZero(QIODevice& device)
{
    if (readInt32(device) != 0)
        throw HouseDatError("File is not supported.");
}

bool moveFolder(const QString& from, const QString& to)
{
    // Never onto something that exists: a rename onto an empty folder would replace it.
    return !QFileInfo::exists(to) && QDir().rename(from, to);
}

// The part of a scan name after its first "_", the whole name when it has none.
QString floorScanFolderName(const QString& scanName)
{
    const qsizetype underscore = scanName.indexOf(u'_');
    return underscore < 0 ? scanName : scanName.mid(underscore + 1);
}

class HouseLayoutReader {
public:
    // The smallest floor record: an empty name and every fixed field, no records, no scans.
    static constexpr qint64 kMinFloorBytes = 4 + 2 + 4 + 4 + 1 + 4 + 1 + 4 + 4 + 16;

    HouseLayoutReader(const QString& projectFolder, QStringList& leftOver)
        : m_folder(projectFolder), m_leftOver(leftOver)
    {
    }

    // Reads the layout and moves the folders it names; throws at the first thing it cannot use.
    void read(QIODevice& device)
    {
        const char* const oldVersion = "Version is old and is not supported or file is corrupted.";
        if (readInt32(device, oldVersion) < 8)
            throw HouseDatError(oldVersion);
        propertyName = readUtf16String(device, QString());
        const qint32 floorCount = readInt32(device);
        if (floorCount < 0 || floorCount > device.bytesAvailable() / kMinFloorBytes)
            throw HouseDatError(corruptFile);
        for (qint32 f = 0; f < floorCount; ++f)
            readFloor(device);
        readInt32(device); // trailer
    }

    QString propertyName;

private:
    void readFloor(QIODevice& device)
    {
        const QString floorName = readUtf16String(device, QString());
        skipBytes(device, 2);
        requireZero(device);
        requireZero(device);
        skipBytes(device, 1);
        const qint32 records = readInt32(device);
        if (records < 0 || records > device.bytesAvailable() / 12)
            throw HouseDatError(corruptFile);
        for (qint32 r = 0; r < records; ++r) {
            readInt32(device);
            readInt32(device);
            readUtf16String(device, QString());
        }
        skipBytes(device, 1);
        requireZero(device);
        const qint32 scanCount = readInt32(device);
        if (scanCount > device.bytesAvailable() / 4)
            throw HouseDatError(corruptFile);
        QStringList scans;
        for (qint32 s = 0; s < scanCount; ++s)
            scans << readUtf16String(device, QString());
        skipBytes(device, 16);
        placeFloor(floorName, scans);
    }

    void placeFloor(const QString& floorName, const QStringList& scans)
    {
        // A name from the file becomes a path only when it is one plain name.
        if (!isPlainName(floorName)) {
            qWarning() << "Skipping floor with unusable folder name" << floorName;
            for (const QString& scan : scans)
                m_leftOver.removeAll(scan);
            return;
        }
        // The floor folder may exist already; it is not a left-over scan then.
        m_leftOver.removeAll(floorName);
        const QString floorPath = m_folder + "/" + floorName;
        QDir().mkpath(floorPath);
        for (const QString& scan : scans) {
            m_leftOver.removeAll(scan);
            const QString target = floorScanFolderName(scan);
            if (!isPlainName(scan) || !isPlainName(target)) {
                qWarning() << "Skipping scan with unusable folder name" << scan;
                continue;
            }
            const QString source = m_folder + "/" + scan;
            if (QFileInfo(source).isDir())
                moveFolder(source, floorPath + "/" + target); // a failed move is left to the load
        }
    }

    const QString m_folder;
    QStringList& m_leftOver;
};

} // namespace

QString readVersionFile(const QString& folder)
{
    return QString::fromUtf8(readFirstLine(folder + "/version.txt")).trimmed();
}

bool hasLegacyHouseLayout(const QString& projectFolder)
{
    return QFileInfo::exists(projectFolder + "/" + kHouseLayoutFileName);
}

QString importLegacyHouseLayout(const QString& projectFolder)
{
    const QString path = projectFolder + "/" + kHouseLayoutFileName;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList leftOver = QDir(projectFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    // Beyond the limit the layout is read as cut short there, like any damaged file.
    const QByteArray bytes = readAtMost(file, kMaxHouseDatBytes);
    file.close();

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    HouseLayoutReader reader(projectFolder, leftOver);
    try {
        reader.read(buffer);
    } catch (const std::exception& e) {
        qWarning() << "Could not load project file:" << path << ". " << e.what();
    }
    QFile::remove(path);

    const QString newFloor = QString::fromLatin1(kNewFloorFolderName);
    for (const QString& name : std::as_const(leftOver)) {
        if (reservedFolderNames.contains(name) || name == newFloor)
            continue;
        const QString source = projectFolder + "/" + name;
        if (!QFileInfo(source).isDir())
            continue;
        QDir().mkpath(projectFolder + "/" + newFloor);
        if (!moveFolder(source, projectFolder + "/" + newFloor + "/" + name))
            qWarning() << "Could not move scan" << name << "into \"New Floor\" folder";
    }
    return reader.propertyName;
}

void Property::importFromCameraData(int& wallThickness)
{
    QFile projectJson(m_folder + "/project.json");
    if (projectJson.open(QIODevice::ReadOnly)) {
        const QByteArray text = readAllWithin(projectJson, kMaxProjectJsonBytes).value_or(QByteArray());
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError) {
            qWarning().noquote() << tr("Could not process project.json file.");
        } else {
            const QJsonObject fields = document.object();
            wallThickness = roundedInt(fields.value("extWallThickness"));
            m_nomivoVersion = fields.value("nomivoVersion").toString();
            m_cam360 = fields.value("cam360").toObject();
            m_globalId = fields.value("globalId").toString();
        }
    } else {
        wallThickness = readWallThickness(m_folder);
        m_nomivoVersion = readVersionFile(m_folder);
    }
    if (dynamic_cast<CamParamsZTM4*>(m_camParams.get())) {
        const QString name = importLegacyHouseLayout(m_folder);
        if (!name.isEmpty())
            m_name = name;
    }
}
