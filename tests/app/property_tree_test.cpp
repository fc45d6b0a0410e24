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

} // namespace

TEST(PropertyTree, ListsTheModelAndFollowsItsChanges)
{
    TreeFixture f;
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "    Ground", "      s1", "      s2", "    First",
                                        "  Garage", "    Bay"}));
    EXPECT_EQ(f.model.kind(f.at({0, 0, 0, 1})), Kind::Scan);
    EXPECT_EQ(f.model.entry(f.at({0, 0, 0, 1})), static_cast<Itemizeable*>(f.s2));
    EXPECT_EQ(f.model.indexOf(f.first), f.at({0, 0, 1}));

    // A new floor is named after it joined its building: names are read from the entries.
    f.garage->addNewFloor("New Floor");
    f.house->deleteFloor(f.first, true);
    f.ground->movePano(f.s2, 0);
    f.s1->setShown(false);
    f.garage->setAsMainBuilding();
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "    Ground", "      s2", "      s1", "  Garage",
                                        "    Bay", "    New Floor"}));
    // Hidden scans are grey, the main building bold.
    EXPECT_EQ(f.model.indexOf(f.s1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::gray));
    EXPECT_FALSE(f.model.indexOf(f.s2).data(Qt::ForegroundRole).isValid());
    EXPECT_TRUE(f.model.indexOf(f.garage).data(Qt::FontRole).value<QFont>().bold());

    // Renaming in the tree: buildings and floors only.
    EXPECT_TRUE(f.model.setData(f.model.indexOf(f.bay), " Basement ", Qt::EditRole));
    EXPECT_EQ(f.bay->ownName(), "Basement");
    EXPECT_TRUE(QFileInfo(f.path("Basement")).isDir());
    EXPECT_FALSE(f.model.setData(f.model.indexOf(f.bay), "   ", Qt::EditRole));
    EXPECT_FALSE(f.model.setData(f.model.indexOf(f.s1), "x", Qt::EditRole));
    EXPECT_EQ(f.s1->ownName(), "s1");

    f.model.setProject(nullptr);
    EXPECT_EQ(f.model.rowCount(), 0);
}

TEST(PropertyTree, ContextMenusAreTheEntriesOwn)
{
    TreeFixture f;
    PropertyTreeView view(&f.model);
    std::unique_ptr<QMenu> propertyMenu(view.contextMenuFor(f.at({0})));
    EXPECT_NE(actionNamed(propertyMenu.get(), "Add building"), nullptr);
    EXPECT_NE(actionNamed(propertyMenu.get(), "Cleanup"), nullptr);
    EXPECT_EQ(view.contextMenuFor(QModelIndex()), nullptr);

    std::unique_ptr<QMenu> garageMenu(view.contextMenuFor(f.model.indexOf(f.garage)));
    view.runContextAction(f.model.indexOf(f.garage), actionNamed(garageMenu.get(), "Add floor"));
    EXPECT_TRUE(f.outline().contains("    New Floor"));

    // An entry that deletes itself: the tree follows and the view keeps no stale entry.
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    view.selectEntry(f.bay);
    std::unique_ptr<QMenu> bayMenu(view.contextMenuFor(f.model.indexOf(f.bay)));
    view.runContextAction(f.model.indexOf(f.bay), actionNamed(bayMenu.get(), "Delete"));
    EXPECT_FALSE(f.outline().contains("    Bay"));
    EXPECT_EQ(view.currentEntry(), nullptr);
}

TEST(PropertyTree, DroppedBuildingsMoveThroughTheProperty)
{
    TreeFixture f;
    Building* shed = f.addBuilding("Shed");
    // Scans and the property are not dragged.
    EXPECT_EQ(f.drag(f.model.indexOf(f.s1)), nullptr);
    EXPECT_EQ(f.drag(f.at({0})), nullptr);
    EXPECT_FALSE(f.model.flags(f.model.indexOf(f.s1)) & Qt::ItemIsDragEnabled);

    ASSERT_TRUE(f.drop(f.model.indexOf(shed), 0, f.at({0})));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({shed, f.house, f.garage}));
    EXPECT_TRUE(f.property->isDirty());
    // The row counts places before the building left its own.
    ASSERT_TRUE(f.drop(f.model.indexOf(shed), 2, f.at({0})));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    // Onto a building: into its place; onto the property: to the end.
    ASSERT_TRUE(f.drop(f.model.indexOf(f.garage), -1, f.model.indexOf(f.house)));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.garage, f.house, shed}));
    ASSERT_TRUE(f.drop(f.model.indexOf(f.garage), -1, f.at({0})));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    // Its own place, a floor, nowhere: nothing.
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), 1, f.at({0})));
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), -1, f.model.indexOf(f.ground)));
    EXPECT_FALSE(f.drop(f.model.indexOf(shed), -1, QModelIndex()));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
}

TEST(PropertyTree, DroppedFloorsMoveWithinAndBetweenBuildings)
{
    TreeFixture f;
    Floor* attic = f.addFloor(f.house, "Attic");
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), 0, f.model.indexOf(f.house)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({attic, f.ground, f.first}));
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), -1, f.model.indexOf(f.first)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.ground, attic, f.first}));

    // Into another building: onto it (at the end), before one of its floors, onto a scan's floor.
    ASSERT_TRUE(f.drop(f.model.indexOf(f.ground), -1, f.model.indexOf(f.garage)));
    EXPECT_EQ(f.ground->building(), f.garage);
    ASSERT_TRUE(f.drop(f.model.indexOf(f.first), 0, f.model.indexOf(f.garage)));
    ASSERT_TRUE(f.drop(f.model.indexOf(attic), -1, f.model.indexOf(f.s1)));
    EXPECT_TRUE(f.house->floors().isEmpty());
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "  Garage", "    First", "    Bay", "    Attic",
                                        "    Ground", "      s1", "      s2"}));

    // A floor does not become a building and stays put on its own place.
    EXPECT_FALSE(f.drop(f.model.indexOf(f.bay), 0, f.at({0})));
    EXPECT_FALSE(f.drop(f.model.indexOf(f.bay), -1, f.model.indexOf(f.bay)));
    EXPECT_EQ(f.garage->floors(), QList<Floor*>({f.first, f.bay, attic, f.ground}));
}

TEST(PropertyTree, ForeignOrStaleDragDataIsRefused)
{
    TreeFixture f;
    const QModelIndex garage = f.model.indexOf(f.garage);
    auto refused = [&](qint32 building, qint32 floor, quint8 format = 1) {
        QByteArray bytes;
        QDataStream(&bytes, QIODevice::WriteOnly) << format << building << floor;
        QMimeData data;
        data.setData(PropertyTreeModel::mimeType, bytes);
        return !f.model.dropMimeData(&data, Qt::MoveAction, -1, 0, garage);
    };
    EXPECT_TRUE(refused(0, 0, 2));
    EXPECT_TRUE(refused(7, -1));
    EXPECT_TRUE(refused(0, 9));
    EXPECT_TRUE(refused(-3, 0));
    const auto copy = f.drag(f.model.indexOf(f.ground));
    EXPECT_FALSE(f.model.dropMimeData(copy.get(), Qt::CopyAction, -1, 0, garage));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.ground, f.first}));
    // A view's move-drag asks the model to remove the dragged rows; only the model's own change may.
    EXPECT_FALSE(f.model.removeRows(0, 1, f.model.indexOf(f.house)));
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
    EXPECT_EQ(seen, QList<Itemizeable*>({nullptr}));
}
