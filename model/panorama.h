#pragma once

#include "imaging/image_params.h"
#include "imaging/source_images.h"
#include "model/draft_item.h"
#include "model/pano_type.h"
#include "model/tag.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPainterPath>
#include <QPoint>

#include <cmath>
#include <memory>
#include <optional>

class CamParams;
class CamParamsOneLens;
class CamParamsZTM6;
class QDomDocument;
class QDomElement;
class QObject;
struct LidarReadOptions;
struct ScanData;

// One scan: a rotating item on its floor's plan, listed in the tree, with its folder inside the
// floor folder, its kind, alignment and colour settings, compass and view angles, capture record and
// lidar outline. Not a QObject; the floor's scene owns it.
//
// Its record (toJson, "pano.dat") holds, besides "id", "pos" and "rot":
//   "name"            string, the scan's own name
//   "dir"             string, the folder name (for export: the folder name inside the archive)
//   "type"            string, the kind word ("unknown", "map", "partial", "full", "user")
//   "compass"         number, degrees; absent when the scan has no compass data
//   "alignment"       number, 1 bad, -1 unknown, 0 good
//   "initAngle"       number, the initial view angle in radians with the sign flipped
//   "imageParams"     array of 29 numbers
//   "equirectangular" bool, made from an equirectangular picture
//   "capture"         object, the capture record as the camera data gave it
//   "scanHash"        string, the scan's fingerprint
//   "systemcfg"       number, index into the property's list of system files (-1 none)
//   "hidden"          bool, not shown on the portal
class Panorama : public DraftGraphicRotatingItem, public Itemizeable, public HideableOnPortal {
public:
    // A scan from a folder of the floor ("name" inside the floor folder, or its full path), placed in
    // the floor's scene; an empty record makes the scan read its own "pano.dat". Null when the
    // folder is not a plain folder of that floor.
    static Panorama* createFromFolder(const QJsonObject& json, const QString& folder, Floor* floor);
    ~Panorama() override;

    QString typeName() const override { return QStringLiteral("pano"); }
    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // Only full and user scans can be shown; unless ownOnly, the floor must be shown too.
    bool isShown(bool ownOnly = false) const override;
    void setShown(bool on) override;
    // In the tree and the floor view: "Hide in Ambrel" or "Show in Ambrel" by the scan's own flag,
    // for the scans the portal can show.
    void contextMenuActions(QMenu* menu) override;
    void onContextAction(QAction* action) override;

    PanoType panoType() const { return m_type; }
    void setPanoType(PanoType type) { m_type = type; }
    const QString& dir() const { return m_dir; }
    // Absolute path of the scan folder.
    QString folder() const;
    // Where a file the program makes for the scan (scanfiles) is written: the scan folder, or when
    // that cannot be written to, the scan's folder in the project's cache folder (made here).
    QString writableFilePath(QLatin1String name) const;
    // Where that file is read: the place it is written to when it is there, else the scan folder.
    QString existingFilePath(QLatin1String name) const;
    // The folder writableFilePath writes into.
    QString writableFolder() const;
    // The scan's folder name inside the export archive.
    QString exportLabel();

    float compass() const { return m_compass; }
    void setCompass(float degrees) { m_compass = degrees; }
    int alignment() const { return m_alignment; }
    void setAlignment(int state) { m_alignment = state; }
    int initAngle() const { return m_initAngle; }
    // Rounds to whole degrees; a value that is not finite counts as 0.
    void setInitAngle(float degrees);
    const QJsonObject& capture() const { return m_capture; }
    void setCapture(const QJsonObject& record) { m_capture = record; }
    const QList<QPoint>& outline() const { return m_outline; }
    void setOutline(const QList<QPoint>& points);
    ImageParams& imageParams() { return m_imageParams; }
    const ImageParams& imageParams() const { return m_imageParams; }
    bool isEquirectangular() const { return m_equirectangular; }
    void setEquirectangular(bool on) { m_equirectangular = on; }
    const QString& scanHash() const { return m_scanHash; }
    void setScanHash(const QString& hash) { m_scanHash = hash; }
    int systemCfgIndex() const { return m_systemCfgIndex; }
    void setSystemCfgIndex(int index) { m_systemCfgIndex = index; }

    QJsonObject toJson(bool forExport) override;
    // Takes the scan's own keys and its position from a record; missing keys leave defaults.
    void readRecord(const QJsonObject& record);
    // Writes toJson(false), enciphered, to "pano.dat"; false (with a warning) when it cannot.
    bool writePanoDat();
    // The same in two steps, for many scans: the record made on the scene's thread (nothing when
    // "pano.dat" holds it already), then written from any one thread.
    struct RecordWrite {
        Panorama* pano;
        QString path;
        QByteArray record;
        bool store() const;
    };
    std::optional<RecordWrite> recordToWrite();
    // Writes the records side by side: each waits for its file to reach the disk.
    static void storeRecords(const QList<RecordWrite>& writes);

    // Processing. Both run on pool threads and touch no widget or scene; they throw
    // std::runtime_error with the user-facing text.
    void reload(bool reprocess);
    void buildPano();
    void removeDerivedFiles(bool all);
    // The images the scan is made from: the shots or lens images of a camera scan (rows bottom-up,
    // each checked to be of the camera's size) or the picture of a user scan (rows top-down). For
    // the adjustment tools on the GUI thread; throws std::runtime_error with the user-facing text.
    SourceImages loadSourceImages() const;
    void resetImageParams(bool keepColour);

    // Moves the scan and its folder to that floor (a free folder name when the target has one of the
    // same name); false when the folder could not be moved.
    bool moveToFloor(Floor* target);

    QPainterPath markerShape() const;
    QDomElement svgElement(QDomDocument& document);
    void onGeometryChanged(bool rotated) override;

    // Tags, by value. A tag's id is issued before it is stored, so every copy carries the same id.
    const QList<Tag>& tags() const { return m_tags; }
    void appendTag(Tag tag);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    explicit Panorama(const QString& dir);
    // The record in a folder's "pano.dat"; empty when there is none or it cannot be read.
    static QJsonObject readPanoDat(const QString& folderPath);
    void setDefaultsForFolder(const QString& path);
    [[noreturn]] void throwMainImageMissing() const;
    void requireBuildable() const;
    bool isExportedUserScan() const;

    PanoType m_type = PanoType::Unknown;
    QString m_dir;
    float m_compass = std::nanf("");
    int m_alignment = -1;
    int m_initAngle = 0;
    QJsonObject m_capture;
    QList<QPoint> m_outline;
    ImageParams m_imageParams;
    bool m_equirectangular = false;
    QString m_scanHash;
    // The scan has its place: its record gave one, or its camera data placed it.
    bool m_placed = false;
    int m_systemCfgIndex = -1;
    QList<Tag> m_tags;
    // What writePanoDat last put on disk, to skip rewriting (and syncing) the same record.
    QString m_writtenRecordPath;
    QByteArray m_writtenRecord;

    // Camera scans (two_lens_processing.cpp; "pc.dat" in pointcloud_file.h).
public:
    // The outline in the "pc.dat" form, enciphered with the data key.
    QByteArray pointcloudData() const;
    // Reads the scan's geometry again from its camera data; mode, a, b and c go to the camera
    // model's lidar reader (0, 0, -1, 0: the camera's own calibration). The new outline goes to
    // the GUI thread; with `place` so does the position and heading the camera data give, moved by
    // the floor's transform (a scan the user has arranged keeps its place otherwise). Safe on a
    // pool thread; does nothing for scans without camera data.
    void loadPointcloud(bool place, int mode, float a, float b, float c);
    // After the camera model's calibration changed: the outline read again under it goes to the
    // GUI thread and into the scan's point cloud. Throws std::runtime_error when the point cloud
    // cannot be written; does nothing for scans without camera data.
    void keepOutlineOfCalibration();
    // Reads the scan's camera data as the camera model does and throws what it throws (a record
    // too old or damaged to read, say), so that a caller learns it before anything of the scan or
    // its folder changes; scans without camera data pass.
    void requireReadableByCamera() const;

private:
    const CamParams* camera() const;
    // The scan folder holds what the camera took (its first shot, or that shot's exposures), not
    // only what processing made of it.
    bool hasCameraShots(const CamParams& model) const;
    CamParams* mutableCamera() const;
    void readCameraData(const CamParams& camera, const LidarReadOptions& options, ScanData& data);
    // The scan's camera data read again with these options; false, with nothing read, for a scan
    // without lidar files.
    bool readLidarAgain(const LidarReadOptions& options, ScanData& data);
    // True when the scan is placed by the data.
    bool postGeometry(const ScanData& data, bool place);
    void reloadTwoLens(const CamParamsZTM6& camera, bool reprocess);
    void buildTwoLensPano(const CamParamsZTM6& camera);
    // One-lens camera scans (one_lens_processing.cpp).
    void reloadOneLens(CamParamsOneLens& camera, bool reprocess);
    void buildOneLensPano(const CamParamsOneLens& camera);
    void loadOneLensShots(const CamParamsOneLens& camera, QByteArray shots[3]) const;
    // The folder that holds a shot: the scan folder, or the scan's cache folder when a shot the
    // scan folder held only as exposures was fused there (the scan folder being read-only).
    QString oneLensShotFolder(const CamParamsOneLens& camera, int shot) const;
    // Fuses shots still held as exposures, where writableFilePath writes.
    void buildOneLensShots(CamParamsOneLens& camera) const;
    bool hasOneLensMainShot(const CamParamsOneLens& camera) const;
    QByteArray renderOneLensPano(const CamParamsOneLens& camera, const QByteArray shots[3], int width);
    void autoAlignShots(const CamParamsOneLens& camera, const QByteArray shots[3]);
    // Jobs posted to the GUI thread are dropped with it when the scan goes away first.
    std::unique_ptr<QObject> m_guiJobGuard;
};
