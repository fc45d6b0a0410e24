#include "model/undo_commands.h"

#include "model/draft_item.h"
#include "model/floor.h"

#include <QCoreApplication>

EditItemCommand::EditItemCommand(DraftGraphicItem* item, QVariantList before, QVariantList after,
                                 const QString& text)
    : QUndoCommand(text), m_item(item), m_before(std::move(before)), m_after(std::move(after))
{
}

void EditItemCommand::undo()
{
    m_item->setState(m_before);
}

void EditItemCommand::redo()
{
    m_item->setState(m_after);
}

AddToSceneCommand::AddToSceneCommand(QGraphicsScene* scene, DraftGraphicItem* item, QUndoCommand* parent)
    : QUndoCommand(QCoreApplication::translate("AddToSceneCommand", "Add %1").arg(item->typeName()), parent),
      m_scene(scene), m_item(item)
{
}

AddToSceneCommand::~AddToSceneCommand()
{
    if (m_owned)
        delete m_item;
}

void AddToSceneCommand::redo()
{
    m_scene->addItem(m_item);
    m_owned = false;
}

void AddToSceneCommand::undo()
{
    m_scene->removeItem(m_item);
    m_owned = true;
}

RemoveFromSceneCommand::RemoveFromSceneCommand(Floor* floor, DraftGraphicItem* item, QUndoCommand* parent)
    : QUndoCommand(QCoreApplication::translate("RemoveFromSceneCommand", "Remove %1").arg(item->typeName()), parent),
      m_floor(floor), m_item(item)
{
}

RemoveFromSceneCommand::~RemoveFromSceneCommand()
{
    if (m_owned)
        delete m_item;
}

void RemoveFromSceneCommand::redo()
{
    m_floor->removeItem(m_item);
    m_owned = true;
}

void RemoveFromSceneCommand::undo()
{
    m_floor->addItem(m_item);
    m_owned = false;
}
