#pragma once

#include <QUndoCommand>
#include <QVariantList>

class DraftGraphicItem;
class Floor;
class QGraphicsScene;

// An item's state before and after one edit. The item is not owned.
class EditItemCommand : public QUndoCommand {
public:
    EditItemCommand(DraftGraphicItem* item, QVariantList before, QVariantList after, const QString& text);
    ~EditItemCommand() override = default;
    void undo() override;
    void redo() override;

    DraftGraphicItem* item() const { return m_item; }
    const QVariantList& before() const { return m_before; }
    const QVariantList& after() const { return m_after; }

private:
    DraftGraphicItem* m_item;
    QVariantList m_before;
    QVariantList m_after;
};

// An item entering the floor's scene. While undone, the command owns the item and deletes it
// when it is itself destroyed.
class AddToSceneCommand : public QUndoCommand {
public:
    AddToSceneCommand(QGraphicsScene* scene, DraftGraphicItem* item, QUndoCommand* parent = nullptr);
    ~AddToSceneCommand() override;
    void undo() override;
    void redo() override;

    DraftGraphicItem* item() const { return m_item; }
    bool ownsItem() const { return m_owned; }

private:
    QGraphicsScene* m_scene;
    DraftGraphicItem* m_item;
    bool m_owned = false;
};

// An item leaving the floor's scene. While done, the command owns the item.
class RemoveFromSceneCommand : public QUndoCommand {
public:
    RemoveFromSceneCommand(Floor* floor, DraftGraphicItem* item, QUndoCommand* parent = nullptr);
    ~RemoveFromSceneCommand() override;
    void undo() override;
    void redo() override;

    DraftGraphicItem* item() const { return m_item; }
    bool ownsItem() const { return m_owned; }

private:
    Floor* m_floor;
    DraftGraphicItem* m_item;
    bool m_owned = false;
};
