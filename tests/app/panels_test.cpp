#include "app/app_settings.h"
#include "app/floor_panel.h"
#include "app/property_panel.h"
#include "support/gui_input.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct UnitsScope {
    bool previous = AppSettings::metricSystem;
    explicit UnitsScope(bool metric) { AppSettings::metricSystem = metric; }
    ~UnitsScope() { AppSettings::metricSystem = previous; }
};

// Types into a field as a person does: select all, type, press Return.
void typeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    if (text.isEmpty())
        keyClick(edit, Qt::Key_Delete);
    else
        keyClicks(edit, text);
    keyClick(edit, Qt::Key_Return);
}

struct PanelFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");
    FloorPanel panel;
    PanelFixture()
    {
        panel.setFloor(ground);
        property->setDirty(false);
    }
};

} // namespace

TEST(FloorPanel, GradeHintFollowsTheChoice)
{
    PanelFixture f;
    QComboBox* grade = f.panel.gradeBox();
    EXPECT_EQ(grade->currentText(), "Not set");
    keyClick(grade, Qt::Key_Down);
    EXPECT_EQ(f.ground->gradeHint(), 1);
    EXPECT_EQ(grade->currentText(), "Below grade");
    EXPECT_TRUE(f.property->isDirty());
    keyClick(grade, Qt::Key_Down);
    EXPECT_EQ(f.ground->gradeHint(), 2);

    // Another floor shows its own value; the first keeps its own.
    Floor* first = f.addFloor(f.house, "First");
    f.panel.setFloor(first);
    EXPECT_EQ(grade->currentIndex(), 0);
    f.panel.setFloor(f.ground);
    EXPECT_EQ(grade->currentText(), "Above grade");

    // The floor goes: the panel lets go of it.
    f.house->deleteFloor(f.ground, false);
    EXPECT_EQ(f.panel.floor(), nullptr);
    keyClick(grade, Qt::Key_Up);
}

TEST(FloorPanel, LengthsAreTypedAndShownInTheChosenUnits)
{
    UnitsScope metric(true);
    PanelFixture f;
    f.house->setExtWallThickness(300);
    EXPECT_EQ(f.panel.wallThicknessEdit()->text(), "");

    typeInto(f.panel.wallThicknessEdit(), "25");
    EXPECT_EQ(f.ground->extWallThickness(true), 250);
    EXPECT_EQ(f.panel.wallThicknessEdit()->text(), "25 cm");
    EXPECT_TRUE(f.property->isDirty());
    typeInto(f.panel.ceilingHeightEdit(), "2.45 m");
    EXPECT_EQ(f.ground->ceilingHeight(), 2450);
    EXPECT_EQ(f.panel.ceilingHeightEdit()->text(), "2.45 m");

    // A typo keeps the value; an emptied field means "not set"; a wall is never negative.
    typeInto(f.panel.wallThicknessEdit(), "thick");
    EXPECT_EQ(f.ground->extWallThickness(true), 250);
    EXPECT_EQ(f.panel.wallThicknessEdit()->text(), "25 cm");
    typeInto(f.panel.wallThicknessEdit(), "-5");
    EXPECT_EQ(f.ground->extWallThickness(true), 250);
    typeInto(f.panel.wallThicknessEdit(), "");
    EXPECT_EQ(f.ground->extWallThickness(true), 0);
    EXPECT_EQ(f.ground->extWallThickness(false), 300);

    LogCapture log;
    typeInto(f.panel.ceilingHeightEdit(), "-1 m");
    EXPECT_EQ(f.ground->ceilingHeight(), 2450);
    EXPECT_TRUE(log.contains(QtInfoMsg, "Invalid ceiling height"));
}

TEST(FloorPanel, FeetAndInchesWhenTheUserChoseThem)
{
    UnitsScope imperial(false);
    PanelFixture f;
    typeInto(f.panel.wallThicknessEdit(), "10\"");
    EXPECT_EQ(f.ground->extWallThickness(true), 254);
    EXPECT_EQ(f.panel.wallThicknessEdit()->text(), "10\"");
    typeInto(f.panel.ceilingHeightEdit(), "8' 6\"");
    EXPECT_EQ(f.ground->ceilingHeight(), 2591);
    EXPECT_EQ(f.panel.ceilingHeightEdit()->text(), "8'6\"");
}

TEST(PropertyPanel, NameAndCommentsGoToTheProperty)
{
    ProjectFixture f;
    f.property->setName("Villa");
    PropertyPanel panel;
    panel.setProject(f.property.get());
    f.property->setDirty(false);
    EXPECT_EQ(panel.nameEdit()->text(), "Villa");
    int renamed = 0;
    QObject::connect(&panel, &PropertyPanel::nameChanged, [&] { ++renamed; });

    typeInto(panel.nameEdit(), "  Villa Rosa ");
    EXPECT_EQ(f.property->name(), "Villa Rosa");
    EXPECT_EQ(renamed, 1);
    EXPECT_TRUE(f.property->isDirty());
    // An empty name is not a name.
    typeInto(panel.nameEdit(), "");
    EXPECT_EQ(panel.nameEdit()->text(), "Villa Rosa");
    EXPECT_EQ(renamed, 1);

    f.property->setDirty(false);
    keyClicks(panel.commentsEdit(), "Gate code 1234");
    EXPECT_EQ(f.property->comments(), "Gate code 1234");
    EXPECT_TRUE(f.property->isDirty());
}
