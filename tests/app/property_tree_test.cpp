#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "pano/panorama.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"

#include <QMenu>
#include <QMimeData>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;
using Kind = PropertyTreeModel::Kind;

namespace {

// House (Ground with scans s1 and s2, First) and Garage (Bay).
struct TreeFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    Floor* first = addFloor(house, "First");
    Building* garage = addBuilding("Garage");
    Floor* bay = addFloor(garage, "Bay");
    Panorama* s1 = addUserScan(ground, "s1");
    Panorama* s2 = addUserScan(ground, "s2");
    PropertyTreeModel model;

    TreeFixture()
    {
        property->setName("Villa");
        model.setProject(property.get());
    }

    // The tree as text, one entry per line, indented by depth.
    QStringList outline() const
    {
        QStringList lines;
        std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
            for (int row = 0; row < model.rowCount(parent); ++row) {
                const QModelIndex index = model.index(row, 0, parent);
                lines << QString(depth * 2, ' ') + index.data().toString();
                walk(index, depth + 1);
            }
        };
        walk(QModelIndex(), 0);
        return lines;
    }

    QModelIndex at(std::initializer_list<int> rows) const
    {
        QModelIndex index;
        for (int row : rows)
            index = model.index(row, 0, index);
        return index;
    }

    std::unique_ptr<QMimeData> drag(const QModelIndex& index) const
    {
        return std::unique_ptr<QMimeData>(model.mimeData({index}));
    }

    bool drop(const QModelIndex& source, int row, const QModelIndex& parent)
    {
        const auto data = drag(source);
        return data && model.dropMimeData(data.get(), Qt::MoveAction, row, 0, parent);
    }
};

QAction* actionNamed(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << action->text();
    return texts;
}

} // namespace

TEST(PropertyTree, ListsPropertyBuildingsFloorsAndScansInModelOrder)
{
    TreeFixture f;
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "    Ground", "      s1", "      s2", "    First",
                                        "  Garage", "    Bay"}));
    EXPECT_EQ(f.model.kind(f.at({0})), Kind::Property);
    EXPECT_EQ(f.model.kind(f.at({0, 0})), Kind::Building);
    EXPECT_EQ(f.model.kind(f.at({0, 0, 0})), Kind::Floor);
    EXPECT_EQ(f.model.kind(f.at({0, 0, 0, 1})), Kind::Scan);
    EXPECT_EQ(f.model.entry(f.at({0, 0, 0, 1})), static_cast<Itemizeable*>(f.s2));
    EXPECT_EQ(f.model.entry(f.at({0, 1, 0})), static_cast<Itemizeable*>(f.bay));
    EXPECT_EQ(f.model.indexOf(f.first), f.at({0, 0, 1}));
    EXPECT_FALSE(f.model.indexOf(nullptr).isValid());

    f.model.setProject(nullptr);
    EXPECT_EQ(f.model.rowCount(), 0);
}

TEST(PropertyTree, FollowsTheModelsChanges)
{
    TreeFixture f;
    f.garage->addNewFloor("New Floor");
    EXPECT_EQ(f.outline().mid(6), QStringList({"  Garage", "    Bay", "    New Floor"}));

    f.house->deleteFloor(f.first, true);
    EXPECT_FALSE(f.outline().contains("    First"));

    f.ground->movePano(f.s2, 0);
    EXPECT_EQ(f.outline().mid(2, 3), QStringList({"    Ground", "      s2", "      s1"}));

    // Hidden scans and floors are shown in grey, the main building in bold.
    f.s1->setShown(false);
    f.garage->setAsMainBuilding();
    EXPECT_EQ(f.model.indexOf(f.s1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::gray));
    EXPECT_FALSE(f.model.indexOf(f.s2).data(Qt::ForegroundRole).isValid());
    EXPECT_TRUE(f.model.indexOf(f.garage).data(Qt::FontRole).value<QFont>().bold());
}

TEST(PropertyTree, ContextMenusAreTheEntriesOwn)
{
    TreeFixture f;
    PropertyTreeView view(&f.model);
    std::unique_ptr<QMenu> propertyMenu(view.contextMenuFor(f.at({0})));
    EXPECT_EQ(actionTexts(propertyMenu.get()),
              QStringList({"Add building", "Delete all snapshots", "Re-import", "Cleanup"}));
    std::unique_ptr<QMenu> floorMenu(view.contextMenuFor(f.model.indexOf(f.ground)));
    EXPECT_EQ(actionTexts(floorMenu.get()), QStringList({"Hide in Ambrel", "Delete", "Sort by name", "Sort by date",
                                                         "Add user pano", "Set underlay floor"}));
    EXPECT_EQ(view.contextMenuFor(QModelIndex()), nullptr);

    std::unique_ptr<QMenu> garageMenu(view.contextMenuFor(f.model.indexOf(f.garage)));
    view.runContextAction(f.model.indexOf(f.garage), actionNamed(garageMenu.get(), "Add floor"));
    EXPECT_TRUE(f.outline().contains("    New Floor"));

    // An entry that deletes itself: the tree follows and the view is left with no stale entry.
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    view.selectEntry(f.bay);
    std::unique_ptr<QMenu> bayMenu(view.contextMenuFor(f.model.indexOf(f.bay)));
    view.runContextAction(f.model.indexOf(f.bay), actionNamed(bayMenu.get(), "Delete"));
    EXPECT_FALSE(f.outline().contains("    Bay"));
    EXPECT_NE(view.currentEntry(), static_cast<Itemizeable*>(f.bay));
}

TEST(PropertyTree, OnlyBuildingsAndFloorsAreDragged)
{
    TreeFixture f;
    EXPECT_TRUE(f.model.flags(f.model.indexOf(f.house)) & Qt::ItemIsDragEnabled);
    EXPECT_TRUE(f.model.flags(f.model.indexOf(f.ground)) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(f.model.flags(f.model.indexOf(f.s1)) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(f.model.flags(f.at({0})) & Qt::ItemIsDragEnabled);
    EXPECT_EQ(f.drag(f.model.indexOf(f.s1)), nullptr);
    EXPECT_EQ(f.drag(f.at({0})), nullptr);
    const auto data = f.drag(f.model.indexOf(f.ground));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), QStringList({"application/draft.treeItem"}));
    EXPECT_EQ(f.model.mimeTypes(), QStringList({"application/draft.treeItem"}));
}

TEST(PropertyTree, DroppedBuildingsMoveThroughTheProperty)
{
    TreeFixture f;
    Building* shed = f.addBuilding("Shed");
    const QModelIndex root = f.at({0});
    // Before the first building.
    ASSERT_TRUE(f.drop(f.model.indexOf(shed), 0, root));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({shed, f.house, f.garage}));
    EXPECT_TRUE(f.property->isDirty());
    // Between the other two: the row counts places before the building left its own.
    ASSERT_TRUE(f.drop(f.model.indexOf(shed), 2, f.at({0})));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    // Onto a building: into its place.
    ASSERT_TRUE(f.drop(f.model.indexOf(f.garage), -1, f.model.indexOf(f.house)));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.garage, f.house, shed}));
    // At the end of the property.
    ASSERT_TRUE(f.drop(f.model.indexOf(f.garage), -1, f.at({0})));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    // Its own place, a floor or a scan: nothing.
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), 1, f.at({0})));
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), -1, f.model.indexOf(f.ground)));
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), -1, QModelIndex()));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    EXPECT_EQ(f.outline().mid(1, 1), QStringList({"  House"}));
}

TEST(PropertyTree, DroppedFloorsMoveWithinAndBetweenBuildings)
{
    TreeFixture f;
    Floor* attic = f.addFloor(f.house, "Attic");
    // Within its building, between floors and onto a floor (into that floor's place).
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), 0, f.model.indexOf(f.house)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({attic, f.ground, f.first}));
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), -1, f.model.indexOf(f.first)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.ground, attic, f.first}));
    ASSERT_TRUE(f.drop(f.model.indexOf(f.ground), -1, f.model.indexOf(f.house)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({attic, f.first, f.ground}));

    // Into another building: onto it (at the end) or before one of its floors; scans go along.
    ASSERT_TRUE(f.drop(f.model.indexOf(f.ground), -1, f.model.indexOf(f.garage)));
    EXPECT_EQ(f.garage->floors(), QList<Floor*>({f.bay, f.ground}));
    EXPECT_EQ(f.ground->building(), f.garage);
    EXPECT_EQ(f.house->floors(), QList<Floor*>({attic, f.first}));
    ASSERT_TRUE(f.drop(f.model.indexOf(f.first), 0, f.model.indexOf(f.garage)));
    EXPECT_EQ(f.garage->floors(), QList<Floor*>({f.first, f.bay, f.ground}));
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), -1, f.model.indexOf(f.s1)));
    EXPECT_EQ(f.garage->floors(), QList<Floor*>({f.first, f.bay, attic, f.ground}));
    EXPECT_TRUE(f.house->floors().isEmpty());
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "  Garage", "    First", "    Bay", "    Attic",
                                        "    Ground", "      s1", "      s2"}));

    // A floor does not become a building, and stays where it is when dropped on its own place.
    EXPECT_FALSE(f.drop(f.model.indexOf(f.bay), 0, f.at({0})));
    EXPECT_FALSE(f.drop(f.model.indexOf(f.bay), -1, f.model.indexOf(f.bay)));
    EXPECT_EQ(f.garage->floors(), QList<Floor*>({f.first, f.bay, attic, f.ground}));
}

TEST(PropertyTree, ForeignOrStaleDragDataIsRefused)
{
    TreeFixture f;
    const QModelIndex garage = f.model.indexOf(f.garage);
    auto refused = [&](const QByteArray& bytes, const QString& format = PropertyTreeModel::mimeType) {
        QMimeData data;
        data.setData(format, bytes);
        return !f.model.canDropMimeData(&data, Qt::MoveAction, -1, 0, garage)
               && !f.model.dropMimeData(&data, Qt::MoveAction, -1, 0, garage);
    };
    auto encoded = [](quint8 format, qint32 building, qint32 floor) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << format << building << floor;
        return bytes;
    };
    EXPECT_TRUE(refused(encoded(1, 0, 0), "text/plain"));
    EXPECT_TRUE(refused(QByteArray("garbage")));
    EXPECT_TRUE(refused(QByteArray()));
    EXPECT_TRUE(refused(encoded(2, 0, 0)));
    EXPECT_TRUE(refused(encoded(1, 7, -1)));
    EXPECT_TRUE(refused(encoded(1, 0, 9)));
    EXPECT_TRUE(refused(encoded(1, -3, 0)));
    EXPECT_TRUE(refused(encoded(1, 0, -2)));
    // The same drag, but copied instead of moved.
    const auto data = f.drag(f.model.indexOf(f.ground));
    EXPECT_FALSE(f.model.dropMimeData(data.get(), Qt::CopyAction, -1, 0, garage));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.ground, f.first}));
    // A view's move-drag asks the model to remove the dragged rows; only the model's own change may.
    EXPECT_FALSE(f.model.removeRows(0, 1, f.model.indexOf(f.house)));
    EXPECT_EQ(f.model.rowCount(f.model.indexOf(f.house)), 2);
}

TEST(PropertyTree, ViewKeepsOpenEntriesAndTheCurrentOneAcrossRebuilds)
{
    TreeFixture f;
    PropertyTreeView view(&f.model);
    EXPECT_TRUE(view.isExpanded(f.model.indexOf(f.house)));
    EXPECT_FALSE(view.isExpanded(f.model.indexOf(f.ground)));
    view.collapse(f.model.indexOf(f.garage));
    view.expand(f.model.indexOf(f.ground));
    ASSERT_TRUE(view.selectEntry(f.s2));
    QList<Itemizeable*> seen;
    QObject::connect(&view, &PropertyTreeView::currentEntryChanged, [&](Itemizeable* e) { seen << e; });

    f.ground->sortPanosByName();
    EXPECT_FALSE(view.isExpanded(f.model.indexOf(f.garage)));
    EXPECT_TRUE(view.isExpanded(f.model.indexOf(f.ground)));
    EXPECT_EQ(view.currentEntry(), static_cast<Itemizeable*>(f.s2));
    EXPECT_TRUE(seen.isEmpty());

    // The current entry goes: the view says so.
    f.ground->deletePano(f.s2, false);
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen.first(), nullptr);
}

TEST(PropertyTree, BuildingsAndFloorsAreRenamedInPlace)
{
    TreeFixture f;
    f.property->setDirty(false);
    EXPECT_TRUE(f.model.setData(f.model.indexOf(f.garage), "  Workshop ", Qt::EditRole));
    EXPECT_EQ(f.garage->ownName(), "Workshop");
    EXPECT_TRUE(f.property->isDirty());
    EXPECT_TRUE(f.model.setData(f.model.indexOf(f.bay), "Basement", Qt::EditRole));
    EXPECT_EQ(f.bay->ownName(), "Basement");
    EXPECT_EQ(f.model.indexOf(f.bay).data().toString(), "Basement");
    EXPECT_TRUE(QFileInfo(f.path("Basement")).isDir());
    EXPECT_FALSE(f.model.setData(f.model.indexOf(f.bay), "   ", Qt::EditRole));
    EXPECT_FALSE(f.model.setData(f.model.indexOf(f.s1), "x", Qt::EditRole));
    EXPECT_EQ(f.s1->ownName(), "s1");
    EXPECT_FALSE(f.model.flags(f.model.indexOf(f.s1)) & Qt::ItemIsEditable);
}
