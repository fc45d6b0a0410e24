#pragma once

#include <QHash>
#include <QTreeView>

class Itemizeable;
class PropertyTreeModel;
class QMenu;

// The project tree's view. Keeps which entries are expanded and which is current across the model's
// rebuilds, and shows each entry's own context menu.
class PropertyTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit PropertyTreeView(PropertyTreeModel* model, QWidget* parent = nullptr);

    PropertyTreeModel* treeModel() const { return m_model; }
    Itemizeable* currentEntry() const;
    // Makes the entry current (and visible); false when the tree does not list it.
    bool selectEntry(const Itemizeable* entry);

    // The entry's own actions, in a new menu the caller owns; null when the index has no entry.
    QMenu* contextMenuFor(const QModelIndex& index);
    // Hands the chosen action to the entry of that index, which may delete itself.
    void runContextAction(const QModelIndex& index, QAction* action);

signals:
    void currentEntryChanged(Itemizeable* entry);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void rememberState();
    void restoreState();

    PropertyTreeModel* m_model;
    QHash<const Itemizeable*, bool> m_expanded;
    const Itemizeable* m_current = nullptr;
    bool m_restoring = false;
};
