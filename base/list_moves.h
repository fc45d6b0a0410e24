#pragma once

#include <QList>

// Outcome of a drag-and-drop reorder in the project tree.
enum class ListMove {
    Ignored,  // same place, or an index outside the list: nothing changes and nothing is reported
    NotMoved, // target -1: the order stays, but the caller still reports a change
    Moved,
};

// Moves list[from] to index `to` (the others keep their order).
template <typename T>
ListMove moveListItem(QList<T>& list, int from, int to)
{
    if (from == to || from < 0 || from >= list.size())
        return ListMove::Ignored;
    if (to == -1)
        return ListMove::NotMoved;
    if (to < 0 || to >= list.size())
        return ListMove::Ignored;
    list.move(from, to);
    return ListMove::Moved;
}
