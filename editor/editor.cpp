#include "editor/editor.h"

#include "model/constants.h"
#include "model/floor.h"
#include "model/panorama.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QUndoGroup>
#include <QUndoStack>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
// Shown when the floor has nothing on it yet: ten metres around the origin.
const QRectF emptyFloorView(-5000, -5000, 10000, 10000);
constexpr double kFitMargin = 500;
}

Editor::Editor(QWidget* parent) : QGraphicsView(parent)
{
    setBackgroundBrush(editorBackgroundColor);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setDragMode(QGraphicsView::RubberBandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);

    m_undoGroup = new QUndoGroup(this);
    m_undo = m_undoGroup->createUndoAction(this, tr("Undo"));
    m_undo->setShortcut(QKeySequence::Undo);
    m_redo = m_undoGroup->createRedoAction(this, tr("Redo"));
    m_redo->setShortcut(QKeySequence::Redo);
    m_delete = makeAction(tr("Delete"), QKeySequence::Delete, &Editor::deleteSelection);
    m_rotateLeft = makeAction(tr("Rotate left"), QKeySequence(Qt::Key_BracketLeft), nullptr);
    connect(m_rotateLeft, &QAction::triggered, this, [this] { rotateSelection(-kRotationStep); });
    m_rotateRight = makeAction(tr("Rotate right"), QKeySequence(Qt::Key_BracketRight), nullptr);
    connect(m_rotateRight, &QAction::triggered, this, [this] { rotateSelection(kRotationStep); });
    m_rotateByCompass = makeAction(tr("Rotate floors by compass"), QKeySequence(), &Editor::rotateFloorsByCompass);
    m_zoomToFit = makeAction(tr("Zoom to fit"), QKeySequence(Qt::Key_F), &Editor::zoomToFit);
    m_arrangeSelected =
        makeAction(tr("Arrange selected scans"), QKeySequence(Qt::Key_R), &Editor::arrangeSelectedScans);
    m_arrangeSelected->setToolTip(tr("Place the selected scans against the floor's other scans by their lidar "
                                     "outlines; again for the next placement found (R)"));
    updateActions();
}

QAction* Editor::makeAction(const QString& text, const QKeySequence& key, void (Editor::*slot)())
{
    auto* action = new QAction(text, this);
    action->setShortcut(key);
    if (slot)
        connect(action, &QAction::triggered, this, slot);
    return action;
}

void Editor::setFloor(Floor* floor)
{
    if (m_floor == floor)
        return;
    if (m_floor)
        m_floor->disconnect(this);
    m_floor = floor;
    m_highlight = QPainterPath();
    setScene(floor);
    if (floor) {
        QUndoStack* stack = floor->undoStack();
        if (!m_undoGroup->stacks().contains(stack))
            m_undoGroup->addStack(stack);
        m_undoGroup->setActiveStack(stack);
        connect(floor, &QGraphicsScene::selectionChanged, this, &Editor::updateActions);
        // The scene itself leaves the view when it is destroyed; the actions must follow.
        connect(floor, &QObject::destroyed, this, [this] {
            m_highlight = QPainterPath();
            updateActions();
        });
        zoomToFit();
    } else {
        m_undoGroup->setActiveStack(nullptr);
    }
    updateActions();
}

void Editor::updateActions()
{
    const QList<QGraphicsItem*> selected = m_floor ? m_floor->selectedItems() : QList<QGraphicsItem*>();
    const bool hasSelection = !selected.isEmpty();
    m_delete->setEnabled(m_floor && !m_floor->deletableItems(selected).isEmpty());
    const bool scanSelected = std::any_of(selected.cbegin(), selected.cend(),
                                          [](QGraphicsItem* item) { return dynamic_cast<Panorama*>(item); });
    m_delete->setToolTip(scanSelected ? tr("Deletes the selected notes and lines. Scans are not deleted here: a scan "
                                           "goes with its floor (Delete in the floor's menu in the tree).")
                                      : tr("Deletes the selected notes and lines."));
    m_rotateLeft->setEnabled(hasSelection);
    m_rotateRight->setEnabled(hasSelection);
    m_rotateByCompass->setEnabled(m_floor);
    m_zoomToFit->setEnabled(m_floor);
    m_arrangeSelected->setEnabled(scanSelected);
}

void Editor::rotateSelection(double degrees)
{
    // A drag still in progress owns the open macro.
    if (m_floor && m_floor->macroDepth() == 0)
        m_floor->moveRotateItems(degrees, m_floor->selectedItems());
}

void Editor::deleteSelection()
{
    if (m_floor)
        m_floor->deleteSelectedItems(m_floor->selectedItems());
}

void Editor::rotateFloorsByCompass()
{
    if (m_floor)
        m_floor->rotateFloorsByCompass();
}

void Editor::arrangeSelectedScans()
{
    if (m_floor)
        m_arrangement.arrangeSelected(m_floor, this);
}

void Editor::zoomToFit()
{
    if (!m_floor)
        return;
    const QRectF items = m_floor->itemsBoundingRect();
    // Before the first layout the viewport has no size, and a load may not have placed the scans
    // yet: try once more when the event loop comes round.
    if ((items.isEmpty() || viewport()->width() < 2) && !m_fitPending) {
        m_fitPending = true;
        QTimer::singleShot(0, this, [this] {
            zoomToFit();
            m_fitPending = false;
        });
    }
    const QRectF target = items.isEmpty() ? emptyFloorView
                                          : items.adjusted(-kFitMargin, -kFitMargin, kFitMargin, kFitMargin);
    fitInView(target, Qt::KeepAspectRatio);
}

void Editor::selectItem(QGraphicsItem* item)
{
    if (!m_floor || !item || item->scene() != m_floor)
        return;
    m_floor->clearSelection();
    item->setSelected(true);
    ensureVisible(item);
}

void Editor::showHighlight(const QPainterPath& path)
{
    m_highlight = path;
    if (!path.isEmpty())
        centerOn(path.boundingRect().center());
    viewport()->update();
}

QColor Editor::highlightColour()
{
    return QColor(255, 40, 40);
}

void Editor::drawForeground(QPainter* painter, const QRectF&)
{
    if (!m_floor)
        return;
    QList<QPainterPath> paths;
    for (const DrcFinding& finding : m_floor->drcFindings())
        if (!finding.highlight.isEmpty())
            paths << finding.highlight;
    if (!m_highlight.isEmpty())
        paths << m_highlight;
    if (paths.isEmpty())
        return;
    QPen pen(highlightColour(), 3);
    pen.setCosmetic(true);
    QColor fill = highlightColour();
    fill.setAlpha(60);
    painter->save();
    painter->setPen(pen);
    painter->setBrush(fill);
    for (const QPainterPath& path : std::as_const(paths))
        painter->drawPath(path);
    painter->restore();
}

DraftGraphicItem* Editor::itemWithActionsAt(const QPoint& viewportPos) const
{
    for (QGraphicsItem* item : items(viewportPos)) {
        while (item->parentItem())
            item = item->parentItem();
        if (auto* draft = dynamic_cast<DraftGraphicItem*>(item)) {
            QMenu probe;
            draft->contextMenuActions(&probe);
            if (!probe.isEmpty())
                return draft;
        }
    }
    return nullptr;
}

void Editor::contextMenuEvent(QContextMenuEvent* event)
{
    // Off the items there is no menu (nor the window's, which would pass for the plan's).
    event->accept();
    DraftGraphicItem* item = m_floor ? itemWithActionsAt(event->pos()) : nullptr;
    if (!item)
        return;
    QMenu menu(this);
    item->contextMenuActions(&menu);
    QAction* chosen = menu.exec(event->globalPos());
    // The item may have gone while the menu was open.
    if (chosen && m_floor && m_floor->items().contains(item))
        item->onContextAction(chosen);
}

void Editor::wheelEvent(QWheelEvent* event)
{
    if (!m_floor) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    const double factor = std::pow(1.0015, event->angleDelta().y());
    scale(factor, factor);
    event->accept();
}
