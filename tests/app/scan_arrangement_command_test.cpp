#include "app/main_window.h"
#include "app/message_presenter.h"
#include "base/progress.h"
#include "editor/editor.h"
#include "editor/scan_arrangement.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/project_generator.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/ztm5_project.h"

#include <QAction>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

namespace {

constexpr double kAcceptedMm = 20.0;
constexpr double kAcceptedDeg = 0.5;

// A window holding the L room of the one-lens lidar camera with its three scans where the camera
// put them.
struct ArrangeWindow {
    QTemporaryDir root;
    QString folder = root.filePath("Elm Row");
    MainWindow window;
    QList<QVariantList> stood;

    explicit ArrangeWindow(const QStringList& options = {})
    {
        MessagePresenter::setBlockingBoxes(false);
        makeZtm5Project(folder, QStringList{"--scans", "3", "--plain-shots"} + options);
        window.show();
        ScriptedPrompt prompt;
        prompt.answerProjectFolders({folder}, root.path());
        window.loadAction()->trigger();
        runPostedJobs();
        for (Panorama* pano : scans())
            stood << pano->state();
    }
    ~ArrangeWindow()
    {
        if (window.currentProperty())
            window.currentProperty()->setDirty(false);
        MessagePresenter::setBlockingBoxes(true);
    }
    Floor* floor() const { return window.editor()->floor(); }
    QList<Panorama*> scans() const { return floor()->panos(); }
    QAction* arrange() const { return window.editor()->arrangeSelectedAction(); }
    // The scan turned where it stands and moved, without an undo step, and made the selection.
    QVariantList displace(int index, QPointF by, double degrees)
    {
        Panorama* pano = scans()[index];
        pano->setRotation(stood[index][1].toDouble() + degrees);
        pano->setPos(stood[index][0].toPointF() + by);
        floor()->clearSelection();
        pano->setSelected(true);
        return pano->state();
    }
    double offMm(int index) const
    {
        return QLineF(scans()[index]->pos(), stood[index][0].toPointF()).length();
    }
    double offDeg(int index) const
    {
        return std::abs(std::remainder(scans()[index]->rotation() - stood[index][1].toDouble(), 360.0));
    }
};

// A progress that is cancelled as soon as the search waits behind it.
class CancellingProgress : public HeadlessProgress {
public:
    explicit CancellingProgress(const ProgressRequest& request) : HeadlessProgress(request) {}
    void waitUntilFinished() override
    {
        cancel();
        HeadlessProgress::waitUntilFinished();
    }
};

// Installs a progress factory while it lives and keeps what was asked of it.
struct ProgressRecorder {
    QList<ProgressRequest> requests;
    ProgressFactory previous;
    explicit ProgressRecorder(bool cancelling)
    {
        previous = setProgressFactory([this, cancelling](const ProgressRequest& request) -> std::unique_ptr<Progress> {
            requests << request;
            if (cancelling)
                return std::make_unique<CancellingProgress>(request);
            return std::make_unique<HeadlessProgress>(request);
        });
    }
    ~ProgressRecorder() { setProgressFactory(previous); }
};

} // namespace

// The floor view's "Arrange selected scans" is on the tool bar and on the key R, and wants a
// selected scan.
TEST(ArrangeSelectedScans, IsOnTheToolBarAndKeyRAndNeedsASelectedScan)
{
    ArrangeWindow f;
    QAction* arrange = f.arrange();
    EXPECT_EQ(arrange->text(), "Arrange selected scans");
    EXPECT_EQ(arrange->shortcut(), QKeySequence(Qt::Key_R));
    EXPECT_TRUE(f.window.actions().contains(arrange)) << "the key works wherever the focus is";
    bool onToolBar = false;
    for (QToolBar* bar : f.window.findChildren<QToolBar*>())
        onToolBar = onToolBar || bar->actions().contains(arrange);
    EXPECT_TRUE(onToolBar);
    f.floor()->clearSelection();
    EXPECT_FALSE(arrange->isEnabled());
    f.scans()[1]->setSelected(true);
    EXPECT_TRUE(arrange->isEnabled());
}

// A scan moved up to 1.5 m away and turned up to 30 degrees comes back to where the camera put it,
// as one undo step that undo takes back exactly; no question is asked for a good match.
TEST(ArrangeSelectedScans, AScanMovedAndTurnedAwayComesBackAsOneUndoStep)
{
    ArrangeWindow f;
    ASSERT_EQ(f.scans().size(), 3);
    const struct {
        int scan;
        QPointF by;
        double degrees;
    } cases[] = {{2, {1500, 0}, 30}, {0, {-1000, 1100}, -30}, {1, {700, -1200}, 18}};
    QUndoStack* stack = f.floor()->undoStack();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scan);
        const QVariantList moved = f.displace(c.scan, c.by, c.degrees);
        const int steps = stack->count();
        ScriptedPrompt prompt;
        f.arrange()->trigger();
        EXPECT_TRUE(prompt.asked().isEmpty());
        EXPECT_LT(f.offMm(c.scan), kAcceptedMm);
        EXPECT_LT(f.offDeg(c.scan), kAcceptedDeg);
        ASSERT_EQ(stack->count(), steps + 1);
        EXPECT_EQ(stack->text(steps), "Arrange scans");
        ASSERT_EQ(stack->command(steps)->childCount(), 1);
        EXPECT_EQ(stack->command(steps)->child(0)->text(), "Edit pano");
        const QList<ArrangeCandidate>& results = f.floor()->arrangeResults();
        ASSERT_FALSE(results.isEmpty());
        EXPECT_LE(results.size(), 10);
        EXPECT_LT(results[0].error, ScanArrangement::kTrustedError);
        EXPECT_EQ(f.floor()->arrangeCursor(), 0);
        const QVariantList arranged = f.scans()[c.scan]->state();
        f.window.editor()->undoAction()->trigger();
        EXPECT_EQ(f.scans()[c.scan]->state(), moved) << "undo puts the scan back where it was";
        EXPECT_EQ(f.scans()[c.scan]->pos(), moved[0].toPointF());
        EXPECT_EQ(f.scans()[c.scan]->rotation(), moved[1].toDouble());
        f.window.editor()->redoAction()->trigger();
        EXPECT_EQ(f.scans()[c.scan]->state(), arranged);
        // The next case starts from where the camera put the scans.
        f.scans()[c.scan]->setState(f.stood[c.scan]);
    }
    for (int i : {0, 1})
        EXPECT_EQ(f.scans()[i]->state(), f.stood[i]) << "the other scans stay";
}

// Asking again with the same selection walks the placements found, one undo step each, and comes
// round to the first; an edit in between starts a new search.
TEST(ArrangeSelectedScans, AskingAgainStepsThroughThePlacementsAndWraps)
{
    ArrangeWindow f;
    f.displace(2, {-800, 600}, 22);
    ScriptedPrompt prompt;
    f.arrange()->trigger();
    const QList<ArrangeCandidate> results = f.floor()->arrangeResults();
    ASSERT_GE(results.size(), 2) << "nothing to step through";
    QList<QPointF> visited{f.scans()[2]->pos()};
    QUndoStack* stack = f.floor()->undoStack();
    for (int k = 1; k <= results.size(); ++k) {
        f.arrange()->trigger();
        EXPECT_EQ(f.floor()->arrangeCursor(), k % results.size());
        EXPECT_EQ(stack->count(), 1 + k) << "one step per press";
        visited << f.scans()[2]->pos();
        EXPECT_GT(QLineF(visited[k], visited[k - 1]).length(), 1.0) << k;
    }
    EXPECT_EQ(f.floor()->arrangeResults().size(), results.size()) << "stepping does not search again";
    EXPECT_LT(QLineF(visited.last(), visited.first()).length(), 1e-6) << "round to the best";
    EXPECT_LT(f.offMm(2), kAcceptedMm);

    // After an undo the scan is not where the last step put it: a new search, best first.
    f.window.editor()->undoAction()->trigger();
    f.window.editor()->undoAction()->trigger();
    f.arrange()->trigger();
    EXPECT_EQ(f.floor()->arrangeCursor(), 0);
    EXPECT_LT(f.offMm(2), kAcceptedMm);
    EXPECT_LT(f.offDeg(2), kAcceptedDeg);
}

// A camera the arrangement does not support: the action says so and changes nothing.
TEST(ArrangeSelectedScans, ACameraTheGateRefusesIsToldAndNothingMoves)
{
    ArrangeWindow f({"--serial", "ZT5500123"});
    ASSERT_EQ(f.window.currentProperty()->cameraSerialNumber(), "ZT5500123");
    ASSERT_FALSE(f.window.currentProperty()->isSupportedCameraModel());
    const QVariantList moved = f.displace(2, {900, 300}, 12);
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Ok);
    ProgressRecorder progress(false);
    f.arrange()->trigger();
    ASSERT_EQ(prompt.asked().size(), 1);
    EXPECT_EQ(prompt.asked()[0].title, "Arrange scans");
    EXPECT_TRUE(prompt.asked()[0].text.contains("\"ZT5500123\"")) << prompt.asked()[0].text.toStdString();
    EXPECT_TRUE(prompt.asked()[0].text.contains("nothing was moved"));
    EXPECT_EQ(f.scans()[2]->state(), moved);
    EXPECT_EQ(f.floor()->undoStack()->count(), 0);
    EXPECT_TRUE(f.floor()->arrangeResults().isEmpty());
    EXPECT_TRUE(progress.requests.isEmpty()) << "no search ran";
}

// The search waits behind a progress with Cancel; cancelling it leaves everything as it was.
TEST(ArrangeSelectedScans, TheSearchRunsBehindAProgressWhoseCancelChangesNothing)
{
    ArrangeWindow f;
    const QVariantList moved = f.displace(1, {-600, -400}, -15);
    {
        ProgressRecorder progress(true);
        f.arrange()->trigger();
        ASSERT_EQ(progress.requests.size(), 1);
        EXPECT_EQ(progress.requests[0].title, "Arrange scans");
        EXPECT_EQ(progress.requests[0].cancelText, "Cancel");
        EXPECT_TRUE(progress.requests[0].applicationModal);
        EXPECT_EQ(progress.requests[0].parent, f.window.editor());
    }
    EXPECT_EQ(f.scans()[1]->state(), moved);
    EXPECT_EQ(f.floor()->undoStack()->count(), 0);
    EXPECT_TRUE(f.floor()->arrangeResults().isEmpty());

    ProgressRecorder progress(false);
    f.arrange()->trigger();
    EXPECT_EQ(progress.requests.size(), 1);
    EXPECT_LT(f.offMm(1), kAcceptedMm);
}

// A scan of another room (the two-lens generator's, larger than the L room) has no true place on
// this floor: the best error says so, the person is asked, and nothing moves unless they ask.
TEST(ArrangeSelectedScans, AScanOfAnotherRoomIsShownItsBestErrorAndMovesOnlyWhenAsked)
{
    ArrangeWindow f;
    QTemporaryDir other;
    makeProject(other.path(), {"--floors", "6", "--scans-per-floor", "1", "--user-scans", "0", "--no-pictures",
                               "--no-missing-main-image"});
    Property twoLens;
    {
        ScriptedPrompt loading;
        ASSERT_TRUE(twoLens.load(other.path()) && runPostedJobs());
    }
    // The sixth floor's room, 8 m by 6 m.
    Floor* big = nullptr;
    for (Floor* floor : twoLens.buildings()[0]->floors())
        if (floor->ownName() == "3rd Floor")
            big = floor;
    ASSERT_TRUE(big && !big->panos().isEmpty());
    const QList<QPoint> outline = big->panos()[0]->outline();
    ASSERT_GT(outline.size(), 100);
    Panorama* stranger = placeScan(f.floor(), "Stranger", PanoType::Full, {300, 200}, 0, outline);
    f.floor()->clearSelection();
    stranger->setSelected(true);
    const QVariantList before = stranger->state();

    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::No);
    f.arrange()->trigger();
    ASSERT_EQ(prompt.asked().size(), 1);
    EXPECT_TRUE(prompt.asked()[0].text.startsWith("No good placement was found"))
        << prompt.asked()[0].text.toStdString();
    const QList<ArrangeCandidate>& results = f.floor()->arrangeResults();
    ASSERT_FALSE(results.isEmpty());
    EXPECT_GT(results[0].error, ScanArrangement::kTrustedError);
    EXPECT_TRUE(prompt.asked()[0].text.contains(QString::number(results[0].error, 'f', 0)));
    EXPECT_EQ(stranger->state(), before);
    EXPECT_EQ(f.floor()->undoStack()->count(), 0);

    // Asked again: the best one is applied.
    f.arrange()->trigger();
    EXPECT_EQ(f.floor()->arrangeCursor(), 0);
    EXPECT_EQ(f.floor()->undoStack()->count(), 1);
    EXPECT_NE(stranger->state(), before);
}
