#pragma once

#include "model/arrange_candidate.h"
#include "model/drc_finding.h"
#include "model/mixins.h"

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QPointF>

#include <optional>

class Building;
class DraftGraphicItem;
class Panorama;
class QDomDocument;
class QUndoCommand;
class QUndoStack;

// Position of a floor's scans in a shared frame, from the floor folder's "floor.json".
struct FloorTransform {
    double tx = 0;
    double ty = 0;
    double angle = 0; // radians
};

// One floor of a building: its data (name, folder, grade, wall thickness, ceiling height, compass,
// scan order, highlighted scans, findings) and the graphics scene its scans and draft items live
// in, with its own undo stack.
class Floor : public QGraphicsScene, public Itemizeable, public HasUniqueId, public HideableOnPortal {
    Q_OBJECT
public:
    static constexpr int kUndoLimit = 100;

    explicit Floor(Building* building);
    ~Floor() override;

    // Building name, "/", own name.
    QString name() const override;
    // Stores the name and renames (or creates) the floor folder after it.
    void setName(const QString& name) override;
    Property* idRegistry() const override;
    QString typeName() const override { return QStringLiteral("floor"); }
    // A "Pictures" floor is never shown.
    void setShown(bool on) override;
    bool isShown(bool ownOnly = false) const override { return m_shown; }
    void contextMenuActions(QMenu* menu) override;
    void onContextAction(QAction* action) override;

    virtual Building* building() const { return m_building; }
    // Called by Building::addFloor only.
    void setBuilding(Building* building) { m_building = building; }

    // Folder name relative to the project folder.
    const QString& dir() const { return m_dir; }
    void setDir(const QString& dir) { m_dir = dir; }
    QString folderPath() const;
    const QString& globalId() const { return m_globalId; }
    void setGlobalId(const QString& id) { m_globalId = id; }

    // Scan order
    const QList<Panorama*>& panos() const { return m_panos; }
    void appendPano(Panorama* pano);
    void removePano(Panorama* pano);
    // Drops a scan that is being destroyed from the lists, without signals.
    void forgetPano(Panorama* pano);
    void movePano(Panorama* pano, int index);
    void deletePano(Panorama* pano, bool withFolder);
    void deleteAllPanos(bool withFolders);
    void sortPanosByName();
    void sortPanosByDate();
    // The "Add user pano" action after the picture chooser.
    void addUserPanos(const QStringList& files);

    // Editing
    // The items among these that deleteSelectedItems removes: the floor's own top-level draft
    // items, never a scan.
    QList<DraftGraphicItem*> deletableItems(const QList<QGraphicsItem*>& items) const;
    void deleteSelectedItems(const QList<QGraphicsItem*>& items);
    // Every movable item of the floor, turned together about the middle of them all.
    void moveRotateItems(double degrees);
    // The top-level draft items among `items` other than reference lines, turned together as one
    // undo step: one item about its own position, several about the middle of them all.
    void moveRotateItems(double degrees, const QList<QGraphicsItem*>& items);
    void rotateFloorsByCompass();
    DraftGraphicItem* findItem(uint32_t id, const QString& typeWord) const;
    int alignmentState() const;

    // Compass
    QPointF northVector();
    double compassRotation();
    bool hasCompassRotation() const;
    void invalidateCompass();
    double storedCompassRotation() const { return m_compassRotation; }
    void setStoredCompassRotation(double degrees) { m_compassRotation = degrees; }

    // Measurements
    int extWallThickness(bool actualOnly) const;
    void setActualExtWallThickness(int mm);
    qint8 gradeHint() const { return m_gradeHint; }
    void setGradeHint(qint8 hint);
    int ceilingHeight() const { return m_ceilingHeight; }
    void setCeilingHeight(int mm);
    int sortOrder() const;

    // Highlighted scans
    const QList<QGraphicsItem*>& highlightedPanos() const { return m_highlighted; }
    void setHighlightedPano(QGraphicsItem* item);
    void setHighlightedItems(const QList<Panorama*>& panos);
    void setHighlightedPanos(const QList<QGraphicsItem*>& items);

    QRectF scanPositionsRect() const;
    QRectF drawingRect() const;

    // Undo
    QUndoStack* undoStack() const { return m_undoStack; }
    int macroDepth() const { return m_macroDepth; }
    void beginMacro(const QString& text);
    void endMacro();
    void pushCommand(QUndoCommand* command);
    void commitItemEdits(const QString& text);
    // A new scene rectangle and an empty, clean undo history.
    void resetScene();

    // Underlay
    Floor* underlayFloor() const { return m_underlayFloor; }
    void setUnderlayFloor(Floor* floor) { m_underlayFloor = floor; }
    bool isShownAsUnderlay() const { return m_shownAsUnderlay; }
    void setShownAsUnderlay(bool on) { m_shownAsUnderlay = on; }

    QList<DrcFinding>& drcFindings() { return m_drcFindings; }
    // The scan arrangement's alternatives for this floor, best first, and which one is shown.
    QList<ArrangeCandidate>& arrangeResults() { return m_arrangeResults; }
    int& arrangeCursor() { return m_arrangeCursor; }

    // Export: the design-rule check (floor_drc.cpp) and the plans (floor_plans.cpp).
    // "Pictures" floors hold loose pictures: never checked, counted or shown on the portal.
    bool isPicturesFloor() const;
    // The DXF plan as text (AutoCAD 2000, millimetres, y up): scans' outline points and markers.
    QByteArray exportDxf();
    // The SVG plan: one group per scan with its outline points as small black squares.
    QDomDocument exportSvg();

    // Reads "floorTransform" of the file once per floor; safe on pool threads.
    FloorTransform readFloorTransform(const QString& path);

    // Floor file. The writers take the scene's items; every scan listed writes its "pano.dat".
    virtual QJsonObject toJson(bool forExport);
    QJsonObject layoutToJson(const QList<QGraphicsItem*>& items, bool forExport);
    QJsonArray referenceLinesToJson(const QList<QGraphicsItem*>& items);
    // Notes, scans, tags and reference lines of a layout, then the scan folders it does not list.
    void loadContents(const QJsonObject& layout);
    void loadReferenceLines(const QJsonArray& lines);
    // The floor's own folder exists inside the project folder (an empty dir never counts).
    bool folderExists() const;

signals:
    void itemAddedToScene(DraftGraphicItem* item);
    void hoverItemChangedOnScene(DraftGraphicItem* item);
    void measurementsUpdated();
    void highlightedPanosChanged(QList<QGraphicsItem*> items);

public slots:
    void on_indexChanged();
    // Replaces the findings with a fresh check.
    void checkDrcErrors();

protected:
    void helpEvent(QGraphicsSceneHelpEvent* event) override;

private:
    void markChanged();
    void emitModelUpdated();
    void clearUndoHistory();
    void announceHighlighted();
    // Top-level draft items other than reference lines: what moving or rotating a floor moves.
    QList<DraftGraphicItem*> movableItems() const;
    // About the middle of the items' bounding rectangle unless a pivot is given.
    void rotateItemsAsGroup(const QList<DraftGraphicItem*>& items, double degrees,
                            std::optional<QPointF> scenePivot = std::nullopt);
    bool applyScanOrder(const QList<Panorama*>& sorted);

    QList<DrcFinding> m_drcFindings;
    QList<ArrangeCandidate> m_arrangeResults;
    int m_arrangeCursor = 0;
    QList<QGraphicsItem*> m_highlighted;
    QString m_dir;
    Building* m_building = nullptr;
    int m_actualExtWallThickness = 0;
    double m_compassRotation;
    QPointF m_northVector;
    qint8 m_gradeHint = 0;
    int m_macroDepth = 0;
    int m_ceilingHeight = 0;
    QString m_globalId;
    FloorTransform m_floorTransform;
    QMutex m_floorTransformMutex;
    bool m_floorTransformLoaded = false;
    QUndoStack* m_undoStack = nullptr;
    QList<Panorama*> m_panos;
    Floor* m_underlayFloor = nullptr;
    bool m_shownAsUnderlay = false;
    bool m_destroying = false;
};
