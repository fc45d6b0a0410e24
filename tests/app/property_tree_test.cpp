#include "app/property_tree_model.h"
#include "app/property_tree_view.h"
#include "model/panorama.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QMimeData>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

// Villa: House (Ground with scans s1 and s2, First) and Garage (Bay).
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
    QStringList outline(const QModelIndex& parent = {}, int depth = 0) const
    {
        QStringList lines;
        for (int row = 0; row < model.rowCount(parent); ++row) {
            const QModelIndex index = model.index(row, 0, parent);
            lines << QString(depth * 2, ' ') + index.data().toString() << outline(index, depth + 1);
        }
        return lines;
    }
    QModelIndex at(Itemizeable* entry) const { return model.indexOf(entry); }
    QModelIndex root() const { return model.index(0, 0); }
    bool drop(Itemizeable* entry, int row, const QModelIndex& parent)
    {
        const std::unique_ptr<QMimeData> data(model.mimeData({at(entry)}));
        return data && model.dropMimeData(data.get(), Qt::MoveAction, row, 0, parent);
    }
};

} // namespace

TEST(PropertyTree, ListsTheEntriesRenamesBuildingsAndFloorsAndOffersTheEntriesOwnMenus)
{
    TreeFixture f;
    PropertyTreeView view(&f.model);
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  House", "    Ground", "      s1", "      s2", "    First",
                                        "  Garage", "    Bay"}));
    EXPECT_TRUE(f.model.setData(f.at(f.bay), " Basement ", Qt::EditRole));
    EXPECT_EQ(f.bay->ownName(), "Basement");
    EXPECT_TRUE(QFileInfo(f.path("Basement")).isDir());
    EXPECT_FALSE(f.model.setData(f.at(f.bay), "   ", Qt::EditRole));
    EXPECT_FALSE(f.model.setData(f.at(f.s1), "x", Qt::EditRole));
    EXPECT_EQ(f.s1->ownName(), "s1");

    EXPECT_EQ(view.contextMenuFor(QModelIndex()), nullptr);
    const QStringList propertyMenu = treeMenu(view, f.root());
    EXPECT_TRUE(propertyMenu.contains("Add building") && propertyMenu.contains("Cleanup"));
    // A new floor is named after it joined its building: names are read from the entries.
    treeMenu(view, f.at(f.garage), "Add floor");
    EXPECT_EQ(f.outline().mid(7), QStringList({"    Basement", "    New Floor"}));
    // The current entry deletes itself through its menu: the view says so and keeps no stale entry.
    ASSERT_TRUE(view.selectEntry(f.bay));
    QList<Itemizeable*> seen;
    QObject::connect(&view, &PropertyTreeView::currentEntryChanged, [&](Itemizeable* e) { seen << e; });
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Yes);
    treeMenu(view, f.at(f.bay), "Delete");
    EXPECT_EQ(f.outline().mid(7), QStringList({"    New Floor"}));
    EXPECT_EQ(seen, QList<Itemizeable*>({nullptr}));
    EXPECT_EQ(view.currentEntry(), nullptr);
}

TEST(PropertyTree, DroppedBuildingsAndFloorsMoveThroughTheModel)
{
    TreeFixture f;
    Building* shed = f.addBuilding("Shed");
    EXPECT_FALSE(f.drop(f.s1, -1, f.at(f.bay))) << "scans are not dragged";
    ASSERT_TRUE(f.drop(shed, 0, f.root()));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({shed, f.house, f.garage}));
    EXPECT_TRUE(f.property->isDirty());
    // The row counts places before the building left its own.
    ASSERT_TRUE(f.drop(shed, 2, f.root()));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.house, shed, f.garage}));
    // Onto a building: into its place; onto the property: to the end.
    ASSERT_TRUE(f.drop(f.garage, -1, f.at(f.house)));
    ASSERT_TRUE(f.drop(f.house, -1, f.root()));
    EXPECT_EQ(f.property->buildings(), QList<Building*>({f.garage, shed, f.house}));
    // Its own place, a floor, nowhere: nothing.
    EXPECT_FALSE(f.drop(shed, 1, f.root()));
    EXPECT_FALSE(f.drop(shed, -1, f.at(f.ground)));
    EXPECT_FALSE(f.drop(shed, -1, QModelIndex()));

    // Floors: within a building; onto a scan (into its floor's place), onto another building (at
    // the end) or before one of its floors; never to the top, nor onto their own place.
    ASSERT_TRUE(f.drop(f.first, 0, f.at(f.house)));
    ASSERT_TRUE(f.drop(f.bay, -1, f.at(f.s1)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.first, f.bay, f.ground}));
    ASSERT_TRUE(f.drop(f.ground, -1, f.at(f.garage)));
    ASSERT_TRUE(f.drop(f.first, 0, f.at(f.garage)));
    EXPECT_FALSE(f.drop(f.bay, 0, f.root()));
    EXPECT_FALSE(f.drop(f.bay, -1, f.at(f.bay)));
    EXPECT_EQ(f.outline(), QStringList({"Villa", "  Garage", "    First", "    Ground", "      s1", "      s2",
                                        "  Shed", "  House", "    Bay"}));

    // Drag data of entries that are not there, or a copy: refused.
    QByteArray stale;
    QDataStream(&stale, QIODevice::WriteOnly) << quint8(1) << qint32(7) << qint32(-1);
    QMimeData data;
    data.setData(PropertyTreeModel::mimeType, stale);
    EXPECT_FALSE(f.model.dropMimeData(&data, Qt::MoveAction, -1, 0, f.at(f.house)));
    const std::unique_ptr<QMimeData> copy(f.model.mimeData({f.at(f.ground)}));
    EXPECT_FALSE(f.model.dropMimeData(copy.get(), Qt::CopyAction, -1, 0, f.at(f.house)));
    // A view's move-drag asks the model to remove the dragged rows; only the model's own change may.
    EXPECT_FALSE(f.model.removeRows(0, 1, f.at(f.house)));
    EXPECT_EQ(f.house->floors(), QList<Floor*>({f.bay}));
}
