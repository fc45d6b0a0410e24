#pragma once

#include "editor/scan_arrangement.h"
#include "model/floor.h"

#include <QGraphicsView>
#include <QPainterPath>
#include <QPointer>

class QAction;
class QUndoGroup;

// The view of the current floor: its scans' outlines and markers and its draft items, selected and
// moved with the mouse, rotated, deleted, undone and redone through the floors' own undo stacks,
// with the outlines of the floor's design-rule findings drawn over the plan.
class Editor : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr double kRotationStep = 5.0;

    explicit Editor(QWidget* parent = nullptr);

    // Null lets go of the floor.
    void setFloor(Floor* floor);
    Floor* floor() const { return m_floor; }
    QUndoGroup* undoGroup() const { return m_undoGroup; }

    QAction* undoAction() const { return m_undo; }
    QAction* redoAction() const { return m_redo; }
    QAction* deleteAction() const { return m_delete; }
    QAction* rotateLeftAction() const { return m_rotateLeft; }
    QAction* rotateRightAction() const { return m_rotateRight; }
    QAction* rotateByCompassAction() const { return m_rotateByCompass; }
    QAction* zoomToFitAction() const { return m_zoomToFit; }
    QAction* arrangeSelectedAction() const { return m_arrangeSelected; }

    // The selected items turn together as one undo step (Floor::moveRotateItems).
    void rotateSelection(double degrees);
    void deleteSelection();
    void rotateFloorsByCompass();
    // The selected scans placed against the floor's other scans by their outlines; again with the
    // same selection, the next placement found (ScanArrangement).
    void arrangeSelectedScans();
    void zoomToFit();
    // Makes this item the only selected one and scrolls it into view.
    void selectItem(QGraphicsItem* item);
    // An outline (a finding's) to show over the current floor; the view centres on it.
    void showHighlight(const QPainterPath& path);
    const QPainterPath& shownHighlight() const { return m_highlight; }

    // Colour of the findings' outlines.
    static QColor highlightColour();

protected:
    // On a draft item with actions of its own (a scan's "Hide in Ambrel", say): its menu.
    void contextMenuEvent(QContextMenuEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QAction* makeAction(const QString& text, const QKeySequence& key, void (Editor::*slot)());
    DraftGraphicItem* itemWithActionsAt(const QPoint& viewportPos) const;
    void updateActions();

    QPointer<Floor> m_floor;
    QUndoGroup* m_undoGroup = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_delete = nullptr;
    QAction* m_rotateLeft = nullptr;
    QAction* m_rotateRight = nullptr;
    QAction* m_rotateByCompass = nullptr;
    QAction* m_zoomToFit = nullptr;
    QAction* m_arrangeSelected = nullptr;
    ScanArrangement m_arrangement;
    QPainterPath m_highlight;
    bool m_fitPending = false;
};
