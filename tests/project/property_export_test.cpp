#include "app/app_settings.h"
#include "pano/panorama.h"
#include "project/cipher.h"
#include "project/dxf_writer.h"
#include "support/archive_check.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/scan_placement.h"
#include "support/scripted_prompt.h"
#include "support/test_support.h"
#include "support/thread_pool_size.h"
#include "support/two_lens_scan_fixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDomDocument>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cmath>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {

// The project folder's name holds a colon: the archive is named after its cleaned form.
const QString kArchiveName = "Job- 12.quoril.tar";
const QString kPrefix = "Job- 12/";

Panorama* withAsset(Panorama* pano, const QString& name, const QByteArray& content = "asset")
{
    writeFile(pano->folder() + "/assets/" + name, content);
    return pano;
}

// Watches the builds from inside: whether a build got an OpenMP team of several threads; "bad"
// folders throw a standard exception, "odd" ones something else.
class ObservingCamera : public CamParamsZTM6 {
public:
    explicit ObservingCamera(const CamParamsZTM6& base) : CamParamsZTM6(base) {}

    void loadFisheyeImage(const QString& folder, int shot, QByteArray& rgb, bool correct) const override
    {
        if (shot == 0) {
#pragma omp parallel
            if (omp_get_num_threads() > 1)
                wideTeam = true;
            if (folder.endsWith("/bad"))
                throw std::runtime_error("lens 1 unreadable");
            if (folder.endsWith("/odd"))
                throw 42;
        }
        CamParamsZTM6::loadFisheyeImage(folder, shot, rgb, correct);
    }

    mutable std::atomic<bool> wideTeam{false};
};

// House (walls 150 mm): "Ground" with a user scan, a map scan (its assets repeat a name) and a full
// scan made from a picture; "Pictures"; "pictures old" (walls 200 mm) with a user scan. Shed: empty.
struct ExportFixture : ProjectFixture {
    Building* house = nullptr;
    Floor *ground = nullptr, *picturesOld = nullptr;
    Panorama *user = nullptr, *fromPicture = nullptr, *oldUser = nullptr;
    ObservingCamera* camera = new ObservingCamera(*makeTwoLensCamera());
    QString archive;

    ExportFixture()
    {
        QDir().mkpath(path("Job: 12"));
        property->setFolder(path("Job: 12"));
        property->setName("Villa");
        property->setCamParams(camera);
        for (const QString file : {"system.cfg", "quorillog.txt", "nomivolog.txt"})
            writeFile(path("Job: 12/" + file), pseudoRandomBytes(700, qHash(file)));
        archive = path("Job: 12/_Export/" + kArchiveName);
        house = addBuilding("House");
        house->setExtWallThickness(150);
        ground = addFloor(house, "Ground");
        user = withAsset(addUserScan(ground, "u1"), "plan.pdf", "first plan");
        QDir().mkpath(user->folder() + "/assets/sub"); // folders are no assets
        withAsset(withAsset(placeScan(ground, "m1", PanoType::Map, {500, 0}), "plan.pdf"), "map.txt");
        fromPicture = placeScan(ground, "e1", PanoType::Full, {0, 900}, 30, {{10, 20}, {-300, 40}});
        fromPicture->setEquirectangular(true);
        writeFile(fromPicture->folder() + "/t.pic", pseudoRandomBytes(900, 1));
        writeFile(fromPicture->folder() + "/s.pic", pseudoRandomBytes(3000, 2));
        Panorama* hidden = withAsset(addUserScan(addFloor(house, "Pictures"), "p1"), "pic.txt");
        picturesOld = addFloor(house, "pictures old");
        picturesOld->setActualExtWallThickness(200);
        oldUser = addUserScan(picturesOld, "u2");
        for (Panorama* tagged : {user, user, oldUser})
            tagged->appendTag(Tag());
        addFloor(addBuilding("Shed"), "Main");
        for (Panorama* pano : {user, hidden, oldUser})
            pano->reload(false);
        // A previous export and a file of the user's beside it.
        writeFile(archive, "previous archive");
        writeFile(path("Job: 12/_Export/readme.txt"), "kept by the user");
    }

    Panorama* twoLensScan(Floor* floor, const QString& name, PanoType type = PanoType::Full)
    {
        writeTwoLensScanFolder(floor->folderPath() + "/" + name);
        return placeScan(floor, name, type, {0, 0});
    }
    void expectPreviousExportKept()
    {
        EXPECT_EQ(listTree(path("Job: 12/_Export")), QStringList({kArchiveName, "readme.txt"}));
        EXPECT_EQ(readFile(archive), "previous archive");
    }
    // Runs an export that must fail, and gives the reason it logged.
    QString failedExportReason()
    {
        LogCapture log;
        QString html;
        EXPECT_FALSE(property->exportTar(html));
        const QString prefix = "Could not export property \"Villa\" .\n ";
        const QStringList texts = log.texts(QtCriticalMsg);
        EXPECT_TRUE(texts.size() == 1 && texts[0].startsWith(prefix)) << texts.join("\n").toStdString();
        return texts.isEmpty() ? QString() : texts.last().mid(prefix.size());
    }
};

const QString kNoValid = "Floor has no valid scan. Remove it or fix it before exporting.";
const QString kGradeNotSet = "Grade level not set. Set above/below grade level by clicking on the floor name.";

QStringList messagesOf(const QList<DrcFinding>& findings, const Itemizeable* onlyAbout = nullptr)
{
    QStringList messages;
    for (const DrcFinding& finding : findings)
        if (!onlyAbout || finding.subject == onlyAbout)
            messages << finding.message;
    return messages;
}

QStringList messages(Floor* floor)
{
    floor->checkDrcErrors();
    return messagesOf(floor->drcFindings());
}

// A main building with one clean floor holding the initial scan: a test sees only what it provokes.
struct CheckFixture : ProjectFixture {
    Building* house = addBuilding("House");
    Floor* ground = cleanFloor(house, "Ground");
    const bool savedMetric = AppSettings::metricSystem;

    CheckFixture()
    {
        property->setName("Villa");
        house->setAsMainBuilding();
        ground->setStoredCompassRotation(10);
        property->setInitialPano(ground->panos().first());
        AppSettings::metricSystem = true;
    }
    ~CheckFixture() { AppSettings::metricSystem = savedMetric; }
    Floor* cleanFloor(Building* building, const QString& name, PanoType type = PanoType::Full)
    {
        Floor* floor = addFloor(building, name);
        floor->setGradeHint(2);
        floor->setStoredCompassRotation(0);
        placeScan(floor, "first", type, {0, 0});
        return floor;
    }
    QStringList propertyMessages() { return messagesOf(property->checkExport(), property.get()); }
};

void triggerAction(Property& property, const QString& text)
{
    QMenu menu;
    property.contextMenuActions(&menu);
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return property.onContextAction(action);
    ADD_FAILURE() << "no action " << text.toStdString();
}

struct LoaderScope {
    explicit LoaderScope(Property::ProjectLoader loader) { Property::setProjectLoader(std::move(loader)); }
    ~LoaderScope() { Property::setProjectLoader({}); }
};

QList<QByteArray> reals(const QList<double>& values)
{
    QByteArray out;
    QTextStream stream(&out, QIODevice::WriteOnly);
    DxfWriter writer(&stream);
    for (double value : values)
        writer.writeReal(10, value);
    stream.flush();
    return out.replace("10\n", "").split('\n').mid(0, values.size());
}

// "x y" of each POINT, as written.
QStringList pointTexts(const QByteArray& dxf)
{
    QStringList points;
    const QString text = QString::fromLatin1(dxf);
    for (auto it = QRegularExpression("\nAcDbPoint\n10\n(.*)\n20\n(.*)\n").globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        points << match.captured(1) + " " + match.captured(2);
    }
    return points;
}

} // namespace

TEST(ArchiveExport, WritesTheEntriesInTheirOrderWithTheSummaryAndReplacesThePreviousExport)
{
    ExportFixture f;
    writeFile(f.path("Job: 12/_Export/Old name.quoril.tar.tmp"), "left by a crash");
    LogCapture log;
    QString html = "<p>before</p>";
    ASSERT_TRUE(f.property->exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
    EXPECT_EQ(log.texts(QtWarningMsg) + log.texts(QtCriticalMsg), QStringList{});
    EXPECT_EQ(listTree(f.path("Job: 12/_Export")), QStringList{kArchiveName});

    const auto entries = [](const QString& base, const QStringList& files) {
        QStringList names;
        for (const QString& file : files)
            names << kPrefix + base + file;
        return names;
    };
    const auto floor = [&](Floor* floor) {
        return entries("floor" + QString::number(floor->uniqueId()), {".qsv", ".qdx"});
    };
    const auto scan = [&](Panorama* pano) { return entries(pano->exportLabel() + "/", {"pc.dat", "t.pic", "s.pic"}); };
    const QStringList expected = entries("", {"quoril_exp.qjs", "/system.cfg", "/quorillog.txt", "/nomivolog.txt"})
        + floor(f.ground) + scan(f.user) + entries("/_Assets/", {"plan.pdf", "map.txt"}) // the map's "plan.pdf" repeats
        + entries(f.fromPicture->exportLabel() + "/", {"t.pic", "s.pic", "pc.dat"}) + floor(f.picturesOld)
        + scan(f.oldUser) + floor(f.property->buildings()[1]->floors()[0]);
    const ArchiveListing python = pythonTarListing(f.archive);
    ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
    EXPECT_EQ(python.names(), expected);
    EXPECT_EQ(python.members[9].sha1, sha1sumOf(f.user->folder() + "/assets/plan.pdf")) << "the first one is kept";
    QByteArray pointCloud = pythonTarMember(f.archive, scan(f.user)[0]), own = f.user->pointcloudData();
    EXPECT_TRUE(decipherBytes(pointCloud, CipherKind::Data) && decipherBytes(own, CipherKind::Data));
    EXPECT_EQ(pointCloud, own);

    const auto row = [](const QString& floor, const QString& value) {
        return "<tr><th> <th><th align=\"left\">" + floor + "</th><th>:<th><th align=\"left\">" + value + "</th></tr> ";
    };
    EXPECT_EQ(html, "<p>before</p><h3>EXTERIOR WALL THICKNESS SUMMARY</h3>"
                    "<p>HOUSE</p><table>" + row("GROUND", "15 cm") + row("PICTURES OLD", "20 cm") + "</table>"
                    "<p>SHED</p><table>" + row("MAIN", "not provided") + "</table>"
                    "<h3>TAGS SUMMARY</h3>"
                    "<p>HOUSE</p><table>" + row("GROUND", "2") + row("PICTURES OLD", "1") + "</table>"
                    "<p>SHED</p><table>" + row("MAIN", "0") + "</table>");
}

// A folder name that cleans to nothing, a name too long for an archive entry, a calibration file
// left out after a trial, names to escape in the summary and imperial units.
TEST(ArchiveExport, AwkwardNamesStayRelativeAndEscaped)
{
    ProjectFixture f;
    const QString blank = f.path("   ");
    QDir().mkpath(blank);
    f.property->setFolder(blank);
    writeFile(blank + "/system.cfg", "calibration");
    f.property->setTrialCalibrationApplied(true); // the file would not fit the scans: left out
    Building* lab = f.addBuilding("R&D <lab>");
    lab->setExtWallThickness(254);
    Floor* floor = f.addFloor(lab, "Level \"1\"");
    Panorama* pano = withAsset(withAsset(f.addUserScan(floor, "u"), QString(120, 'a') + ".txt"), "short.txt");
    pano->reload(false);

    LogCapture log;
    QString html;
    AppSettings::metricSystem = false;
    const bool ok = f.property->exportTar(html);
    AppSettings::metricSystem = true;
    ASSERT_TRUE(ok) << log.texts(QtCriticalMsg).join("\n").toStdString();
    EXPECT_TRUE(log.contains(QtWarningMsg, "too long") && log.contains(QtWarningMsg, QString(120, 'a')));
    const ArchiveListing listing = pythonTarListing(blank + "/_Export/Project.quoril.tar");
    ASSERT_TRUE(listing.failure.isEmpty()) << listing.failure.toStdString();
    const QString scan = "Project/" + pano->exportLabel() + "/";
    const QString floorBase = "Project/floor" + QString::number(floor->uniqueId());
    EXPECT_EQ(listing.names(), QStringList({"Project/quoril_exp.qjs", floorBase + ".qsv", floorBase + ".qdx",
                                            scan + "pc.dat", scan + "t.pic", scan + "s.pic",
                                            "Project//_Assets/short.txt"}));
    EXPECT_TRUE(html.contains("<p>R&amp;D &lt;LAB&gt;</p><table><tr><th> <th><th align=\"left\">LEVEL &quot;1&quot;"
                              "</th><th>:<th><th align=\"left\">10\"</th></tr> </table>"))
        << html.toStdString();
}

TEST(ArchiveExport, FailuresKeepThePreviousExportAndLeaveNoTemporaryArchive)
{
    {
        ExportFixture f;
        QTimer cancelBetweenFloors;
        QObject::connect(&cancelBetweenFloors, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QProgressDialog*>(widget);
                    dialog && dialog->isVisible() && dialog->labelText() == "Exporting floor: House/pictures old") {
                    cancelBetweenFloors.stop();
                    dialog->findChild<QPushButton*>()->click();
                }
        });
        cancelBetweenFloors.start(1);
        EXPECT_EQ(f.failedExportReason(), "Canceled");
        f.expectPreviousExportKept();
    }
    {
        ExportFixture f;
        const QString device = f.path("full"); // never the machine's own /dev/full
        ASSERT_EQ(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
        ASSERT_TRUE(QFile::link(device, f.archive + ".tmp"));
        EXPECT_EQ(f.failedExportReason(), "Failed to write data to tar file. Check for free disk space.");
        f.expectPreviousExportKept();
        EXPECT_TRUE(QFileInfo(device).exists());
    }
    {
        ExportFixture f;
        QFile::remove(f.archive);
        QDir().mkpath(f.archive + "/in the way");
        EXPECT_EQ(f.failedExportReason(), "Could not give the export tar file its name: " + f.archive
                                              + ". Check free disk space and folder permissions.");
        EXPECT_EQ(listTree(f.path("Job: 12/_Export")),
                  QStringList({kArchiveName + "/", kArchiveName + "/in the way/", "readme.txt"}));
    }
}

TEST(BuildPass, BuildsEveryShownScanWithOneOpenMpThreadInEachTaskAndFailsTheExportWithEveryFailure)
{
    GlobalPoolSize pool(2);
    ExportFixture f;
    Panorama* bad = f.twoLensScan(f.ground, "bad");
    Panorama* first = f.twoLensScan(f.ground, "first");
    Panorama* odd = f.twoLensScan(f.ground, "odd");
    Panorama* partial = f.twoLensScan(f.ground, "partial", PanoType::Partial);
    Panorama* unknown = f.twoLensScan(f.ground, "unknown", PanoType::Unknown);
    Panorama* loose = f.twoLensScan(f.addFloor(f.house, "Pictures 2"), "loose");
    const auto hasPano = [](Panorama* pano) { return QFileInfo::exists(pano->folder() + "/s.pic"); };
    const int before = omp_get_max_threads();
    ASSERT_GT(before, 1) << "a machine with one core cannot tell the limit from the default";
    EXPECT_EQ(f.failedExportReason(),
              "Failed to quoril some of the panos. Fix or remove the bad ones, or re-import the whole property.\n\n"
              "Could not process pano " + bad->folder() + ": lens 1 unreadable\n\n"
              "Could not process pano " + odd->folder() + ": Unknown failure.\n\n");
    f.expectPreviousExportKept();
    EXPECT_TRUE(hasPano(first) && hasPano(partial) && hasPano(f.user)) << "one failure does not stop the others";
    EXPECT_FALSE(hasPano(unknown) || hasPano(loose) || QFileInfo::exists(f.path("Job: 12/Ground/m1/s.pic")));
    EXPECT_FALSE(f.camera->wideTeam) << "the one-thread limit reaches the pool threads";
    EXPECT_EQ(omp_get_max_threads(), before) << "and the calling thread keeps its own";
    EXPECT_EQ(decipheredPicImage(first->folder() + "/s.pic").size(), QSize(7200, 3600));
}

TEST(PropertyExportCheck, EmptinessDisabledFloorsAndCompassCountOnlyFloorsWithScans)
{
    CheckFixture f;
    Floor* maps = f.cleanFloor(f.house, "Basement", PanoType::Map); // no buildable scan, still counted
    f.cleanFloor(f.house, "Pictures")->setStoredCompassRotation(qQNaN()); // never counted
    f.addFloor(f.house, "Attic");                                          // no scans: not counted
    EXPECT_EQ(f.propertyMessages(), QStringList{});
    maps->setStoredCompassRotation(qQNaN());
    EXPECT_EQ(f.propertyMessages(),
              QStringList{"Some floors have no compass data. Compass can be set manually on the AMBREL Portal."});
    f.ground->setStoredCompassRotation(qQNaN());
    f.ground->setShown(false);
    EXPECT_EQ(f.propertyMessages(), (QStringList{"Initial pano is not enabled on the portal: first. The first enabled "
                                                 "one will be selected.",
                                                 "Not enough compass data to determine property orientation. Compass "
                                                 "direction will need to be set manually on the portal. Please "
                                                 "re-calibrate camera compass."}));
    maps->setShown(false);
    EXPECT_EQ(f.propertyMessages()[1],
              "All floors are currently disabled. The 3D tour and floor plans will not be visible.");
    f.ground->panos().first()->setPanoType(PanoType::Map); // nothing buildable: empty, and nothing else to say
    const QList<DrcFinding> findings = f.property->checkExport();
    EXPECT_EQ(messagesOf(findings, f.property.get()).mid(1), QStringList{"Project is empty."});
    EXPECT_EQ(findings[1].code, 0) << "an empty project is not exported";
}

TEST(FloorDrc, RulesComeInTheirOrderWithTheirCodesAndEachHoldsOnlyWithinItsEdges)
{
    CheckFixture f;
    Floor* floor = f.addFloor(f.house, "GARAGE");
    floor->setCeilingHeight(950);
    Panorama* map = placeScan(floor, "map", PanoType::Map, {0, 0});
    floor->drcFindings() = {DrcFinding{nullptr, "stale", "stale", {}, 0}};
    EXPECT_EQ(messages(floor),
              (QStringList{"Garage floor is in the main building. Do you want to move it to a standalone building?",
                           kGradeNotSet, "Ceiling Height is unusually small: 95 cm", kNoValid}));
    QList<int> codes;
    for (const DrcFinding& finding : floor->drcFindings())
        codes << (finding.subject == floor ? finding.code : -1);
    EXPECT_EQ(codes, (QList<int>{1, 0, 1, 0})) << "blocking: 0, about the floor";
    AppSettings::metricSystem = false;
    EXPECT_EQ(messages(floor).at(2), "Ceiling Height is unusually small: 3'1\"");

    // Only the whole name in the main building is a garage; a ceiling height counts when set and
    // under a metre; a buildable scan counts even when hidden, an unknown one never.
    floor->setGradeHint(2);
    floor->setName("Garage 2");
    floor->setCeilingHeight(1000);
    EXPECT_EQ(messages(floor), QStringList{kNoValid});
    EXPECT_EQ(messages(f.addFloor(f.addBuilding("Shed"), "Garage")).first(), kGradeNotSet);
    map->setPanoType(PanoType::Unknown);
    placeScan(floor, "hidden", PanoType::Partial, {5000, 0})->setShown(false);
    floor->setCeilingHeight(0);
    EXPECT_EQ(messages(floor), QStringList{});
}

TEST(FloorDrc, ShownScansWithinHalfAMetreAreOutlinedInOneBlockingFinding)
{
    CheckFixture f;
    Floor* floor = f.cleanFloor(f.house, "1st");                               // "first" at (0, 0)
    Panorama* b = placeScan(floor, "b", PanoType::Full, {300, 400});         // exactly 500 from it
    Panorama* far = placeScan(floor, "far", PanoType::User, {800.1, 400}); // 500.1 from b
    ASSERT_EQ(messages(floor).size(), 1);
    const DrcFinding finding = floor->drcFindings().first();
    EXPECT_EQ(finding.code, 0);
    EXPECT_TRUE(finding.message.startsWith("Highlighted scans are closer than 50 cm. <a href=\""));
    EXPECT_TRUE(finding.message.endsWith("\">Adjust position or disable all but one.</a>"));
    for (const QPointF& inside : {QPointF(-245, 0), QPointF(0, 245), QPointF(545, 400), QPointF(300, 645)}) // r = 250
        EXPECT_TRUE(finding.highlight.contains(inside)) << inside.x() << " " << inside.y();
    EXPECT_FALSE(finding.highlight.contains(far->scenePos()) || finding.highlight.contains(QPointF(0, 260)));
    // Only the scans' own portal flags count, and partial scans may stand anywhere.
    floor->setShown(false);
    EXPECT_EQ(messages(floor).size(), 1);
    b->setShown(false);
    placeScan(floor, "c", PanoType::Partial, {150, 200});
    EXPECT_EQ(messages(floor), QStringList{});
}

TEST(PropertyActions, AddBuildingTakesTheFirstFreeNameAndKeepsTheProjectDirty)
{
    ProjectFixture f;
    f.addBuilding("New Building 1");
    f.addBuilding("new building");
    f.property->setDirty(true);
    triggerAction(*f.property, "Add building");
    triggerAction(*f.property, "Add building");
    ASSERT_EQ(f.property->buildings().size(), 4);
    EXPECT_EQ(f.property->buildings()[2]->ownName() + ", " + f.property->buildings()[3]->ownName(),
              "New Building, New Building 2");
    EXPECT_TRUE(f.property->isDirty());
}

// Refused without raw camera data, then not confirmed: nothing changes. Confirmed: the tree, the
// editor and the dialogs, which hold pointers to the floors and scans, hear that these go away
// while they still live and before the load, whose failure is logged.
TEST(PropertyActions, ReimportLetsGoOfTheOldTreeBeforeTheLoadOnlyWhenConfirmed)
{
    ProjectFixture f;
    f.property->setName("Villa");
    Floor* ground = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* full = placeScan(ground, "full", PanoType::Full, {0, 0});
    Panorama* user = f.addUserScan(ground, "user");
    for (const char* file : {"quoril.qjs", "Ground/full/t.pic", "Ground/full/pano.dat"})
        writeFile(f.path(file), "x");
    const auto exists = [&](const QString& file) { return QFileInfo::exists(f.path(file)); };
    f.property->setInitialPano(full);
    ground->setHighlightedItems({full, user});
    QStringList events;
    QObject::connect(f.property.get(), &Property::initPanoUpdated,
                     [&] { events << (f.property->initialPano() ? "initial kept" : "initial cleared"); });
    QObject::connect(ground, &Floor::highlightedPanosChanged, [&](const QList<QGraphicsItem*>& items) {
        events << QString("highlighted %1").arg(items.size());
    });
    QObject::connect(f.property.get(), &Property::modelUpdated, [&](Floor* floor) {
        events << QString("model %1 buildings, floor %2 still named %3")
                      .arg(f.property->buildings().size())
                      .arg(floor ? "given" : "null", ground->ownName());
    });
    LoaderScope loader([&](Property& property, const QString& folder) {
        events << "load";
        EXPECT_TRUE(&property == f.property.get() && folder == f.path());
        EXPECT_EQ(property.initialPano(), nullptr);
        EXPECT_FALSE(exists("quoril.qjs") || exists("Ground/full/t.pic") || exists("Ground/full/pano.dat"));
        EXPECT_TRUE(exists("project.json") && exists("Ground/full") && exists("Ground/user/u.jpg"));
        throw std::runtime_error("Could not find: somewhere");
    });
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Ok).answerQuestion(QMessageBox::No).answerQuestion(QMessageBox::Yes);
    LogCapture log;
    const QStringList before = listTree(f.path());
    triggerAction(*f.property, "Re-import");
    writeFile(f.path("project.json"), "{}"); // the field application's data counts as raw data too
    triggerAction(*f.property, "Re-import");
    QStringList after = listTree(f.path());
    after.removeOne("project.json");
    EXPECT_EQ(after, before);
    EXPECT_EQ(events, QStringList{});
    triggerAction(*f.property, "Re-import");
    ASSERT_EQ(prompt.asked().size(), 3);
    EXPECT_EQ(prompt.asked()[0].title, "Cannot re-import");
    EXPECT_EQ(prompt.asked()[1].title, "Warning");
    EXPECT_EQ(events, (QStringList{"initial cleared", "highlighted 0",
                                   "model 0 buildings, floor null still named Ground", "highlighted 0", "load"}));
    EXPECT_EQ(log.texts(QtCriticalMsg),
              QStringList{"Could not re-import property \"Villa\" : Could not find: somewhere"});
}

TEST(PropertyMaintenance, ReprocessPanosGoesOnAfterFailuresAndWarnsOnce)
{
    ProjectFixture f;
    f.property->setCamParams(makeTwoLensCamera().release());
    Building* house = f.addBuilding("House");
    Floor* ground = f.addFloor(house, "Ground");
    Floor* pictures = f.addFloor(house, "Pictures");
    // Scans without their camera data fail; the one between them is processed all the same.
    Panorama* first = placeScan(ground, "first", PanoType::Full, {0, 0});
    writeTwoLensScanFolder(pictures->folderPath() + "/second");
    Panorama* second = placeScan(pictures, "second", PanoType::Full, {0, 0});
    Panorama* third = placeScan(ground, "third", PanoType::Full, {0, 0});
    Panorama* partial = placeScan(ground, "partial", PanoType::Partial, {0, 0});
    for (Panorama* pano : {first, second, third, partial}) {
        pano->imageParams()[0] = 0.25f;  // an alignment angle
        pano->imageParams()[20] = 0.75f; // a colour setting
        writeFile(pano->folder() + "/t.pic", "old preview");
    }
    LogCapture log;
    f.property->reprocessPanos();
    const auto failure = [](Panorama* pano) {
        return "Could not process pano " + pano->folder() + ". Scan " + pano->folder()
            + ": Main image is missing and pano will be omitted.";
    };
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{failure(first) + "\n\n" + failure(third)});
    for (Panorama* pano : {first, second, third, partial})
        EXPECT_EQ(QPointF(pano->imageParams()[0], pano->imageParams()[20]), QPointF(pano == partial ? 0.25 : 0, 0.75))
            << "alignment reset, colour kept, partial scans left alone";
    EXPECT_FALSE(QFileInfo::exists(first->folder() + "/t.pic"));
    EXPECT_GT(QFileInfo(second->folder() + "/t.pic").size(), 1000) << "a new preview";
    EXPECT_EQ(readFile(partial->folder() + "/t.pic"), "old preview");
}

TEST(DxfWriter, RealsHaveOneDecimalTiesAwayFromZeroAndNeverNegativeZeroNanOrInf)
{
    EXPECT_EQ(reals({-1250.46, -999.95001, 0.25, -0.25, -4096.25, 0.35, 9.95, 4503599627370495.5, 1e20, -0.0, -0.04,
                     -0.05, -4.9e-324, std::nan(""), INFINITY, -INFINITY}),
              (QList<QByteArray>{"-1250.5", "-1000.0", "0.3", "-0.3", "-4096.3", "0.3", "9.9", "4503599627370495.5",
                                 "100000000000000000000.0", "0.0", "0.0", "-0.1", "0.0", "0.0", "0.0", "0.0"}));
}

TEST(FloorPlans, EmptyFloorGivesTheSkeletonAndScansAreDrawnTopmostFirstInTheDxf)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    QByteArray dxf = floor->exportDxf();
    EXPECT_TRUE(dxf.contains("9\n$EXTMIN\n10\n0.0\n20\n0.0\n9\n$EXTMAX\n10\n0.0\n20\n0.0\n"));
    EXPECT_TRUE(dxf.endsWith("0\nEOF\n") && dxf.contains("2\nENTITIES\n0\nENDSEC\n"));
    EXPECT_EQ(floor->exportSvg().documentElement().attribute("viewBox"), "0.0 0.0 0.0 0.0");

    // Entity handles follow the tables' in hex; scene points (980, 2010) and (993, 1995) are written y up.
    Panorama* pano = placeScan(floor, "a", PanoType::Full, {1000, 2000}, 90, {{10, 20}, {-5, 7}});
    placeScan(floor, "map", PanoType::Map, {-3000, 0}, 0, {{100, 100}}); // in the extents only
    dxf = floor->exportDxf();
    EXPECT_TRUE(dxf.contains("0\nPOINT\n5\n35\n100\nAcDbEntity\n8\nP\n100\nAcDbPoint\n10\n980.0\n20\n-2010.0\n"
                             "0\nPOINT\n5\n36\n100\nAcDbEntity\n8\nP\n100\nAcDbPoint\n10\n993.0\n20\n-1995.0\n"
                             "0\nLWPOLYLINE\n5\n37\n"));
    EXPECT_EQ(dxf.count("0\nLWPOLYLINE\n"), 1);
    EXPECT_TRUE(dxf.contains("\n90\n13\n") && dxf.contains("10\n1000.0\n20\n-2150.0\n")) << "the marker, turned";
    EXPECT_TRUE(dxf.contains("9\n$EXTMIN\n10\n-2900.0\n20\n-2011.0\n9\n$EXTMAX\n10\n1001.0\n20\n-100.0\n"));
    const QString svg = floor->exportSvg().toString(0);
    EXPECT_TRUE(svg.contains("viewBox=\"-2900.0 100.0 3901.0 1911.0\"") && svg.count("<g ") == 2) << svg.toStdString();
    EXPECT_TRUE(svg.contains("id=\"scan" + QString::number(pano->uniqueId()) + "\""));
    EXPECT_TRUE(svg.contains("transform=\"translate(1000.0,  2000.0) rotate(90.00) \""));

    placeScan(floor, "top", PanoType::User, {100, 0}, 0, {{2, 2}})->setZValue(2);
    EXPECT_EQ(pointTexts(floor->exportDxf()), (QStringList{"102.0 -2.0", "980.0 -2010.0", "993.0 -1995.0"}));
    const QString stacked = floor->exportSvg().toString(0);
    EXPECT_GT(stacked.indexOf("translate(100.0,"), stacked.indexOf("translate(1000.0,")) << "the bottom scan first";
}

TEST(FloorPlans, DxfRoundsHalvesAwayFromZeroAndNeverWritesNegativeZero)
{
    ProjectFixture f;
    Floor* floor = f.addFloor(f.addBuilding("House"), "Ground");
    Panorama* pano = placeScan(floor, "a", PanoType::Partial, {0.5, 12.5}, 0, {{0, 0}, {-1, -25}, {0, -13}, {-1, -12}});
    EXPECT_EQ(pointTexts(floor->exportDxf()), (QStringList{"1.0 -13.0", "-1.0 13.0", "1.0 1.0", "-1.0 -1.0"}));
    pano->setPos(0.5, 12.6); // the third point's y is now -0.4, which rounds to a negative zero
    const QByteArray dxf = floor->exportDxf();
    EXPECT_EQ(pointTexts(dxf), (QStringList{"1.0 -13.0", "-1.0 12.0", "1.0 0.0", "-1.0 -1.0"}));
    EXPECT_FALSE(dxf.contains("-0.0") || dxf.toLower().contains("nan") || dxf.toLower().contains("inf"));
}
