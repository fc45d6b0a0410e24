#include "app/property_tree_view.h"

#include "app/property_tree_model.h"
#include "model/mixins.h"

#include <QContextMenuEvent>
#include <QMenu>

PropertyTreeView::PropertyTreeView(PropertyTreeModel* model, QWidget* parent) : QTreeView(parent), m_model(model)
{
    setModel(model);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    connect(model, &PropertyTreeModel::aboutToRebuild, this, &PropertyTreeView::rememberState);
    connect(model, &PropertyTreeModel::rebuilt, this, &PropertyTreeView::restoreState);
    restoreState();
}

Itemizeable* PropertyTreeView::currentEntry() const
{
    return m_model->entry(currentIndex());
}

bool PropertyTreeView::selectEntry(const Itemizeable* entry)
{
    const QModelIndex index = m_model->indexOf(entry);
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        expand(up);
    setCurrentIndex(index);
    scrollTo(index);
    return true;
}

void PropertyTreeView::rememberState()
{
    // Entries are compared by address only: a deleted one simply is not found again.
    m_expanded.clear();
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int row = 0; row < m_model->rowCount(parent); ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            if (m_model->hasChildren(index))
                m_expanded.insert(m_model->entry(index), isExpanded(index));
            walk(index);
        }
    };
    walk(QModelIndex());
    m_current = m_model->entry(currentIndex());
    m_restoring = true;
}

void PropertyTreeView::restoreState()
{
    // Scans are many: a floor shows them when the user opens it; everything above starts open.
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int row = 0; row < m_model->rowCount(parent); ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            const bool isFloor = m_model->kind(index) == PropertyTreeModel::Kind::Floor;
            setExpanded(index, m_expanded.value(m_model->entry(index), !isFloor));
            walk(index);
        }
    };
    walk(QModelIndex());
    const QModelIndex current = m_model->indexOf(m_current);
    m_restoring = false;
    if (current.isValid()) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(current);
    }
    // The current entry may be gone; whoever follows it must let go of it.
    if (m_model->entry(currentIndex()) != m_current || !current.isValid())
        emit currentEntryChanged(currentEntry());
}

QMenu* PropertyTreeView::contextMenuFor(const QModelIndex& index)
{
    Itemizeable* entry = m_model->entry(index);
    if (!entry)
        return nullptr;
    auto* menu = new QMenu(this);
    entry->contextMenuActions(menu);
    return menu;
}

void PropertyTreeView::runContextAction(const QModelIndex& index, QAction* action)
{
    if (Itemizeable* entry = m_model->entry(index); entry && action)
        entry->onContextAction(action);
}

void PropertyTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    const QPersistentModelIndex index = indexAt(event->pos());
    QMenu* menu = contextMenuFor(index);
    if (!menu)
        return;
    QAction* chosen = menu->isEmpty() ? nullptr : menu->exec(event->globalPos());
    // The rows may have been rebuilt while the menu was open.
    if (chosen && index.isValid())
        runContextAction(index, chosen);
    menu->deleteLater();
}

void PropertyTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    if (!m_restoring)
        emit currentEntryChanged(m_model->entry(current));
}
