#include "base/cipher.h"
#include "model/app_settings.h"
#include "model/panorama.h"
#include "support/archive_check.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/scan_placement.h"
#include "support/test_support.h"
#include "support/thread_pool_size.h"
#include "support/two_lens_scan_fixture.h"

#include <QApplication>
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
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

// Watches the builds from inside: the most OpenMP threads a build could start a team with; "bad"
// folders throw a standard exception, "odd" ones something else.
class ObservingCamera : public CamParamsZTM6 {
public:
    explicit ObservingCamera(const CamParamsZTM6& base) : CamParamsZTM6(base) {}

    void loadFisheyeImage(const QString& folder, int shot, QByteArray& rgb, bool correct) const override
    {
        if (shot == 0) {
            for (int seen = widestTeam.load(); omp_get_max_threads() > seen
                 && !widestTeam.compare_exchange_weak(seen, omp_get_max_threads());) {
            }
            if (folder.endsWith("/bad"))
                throw std::runtime_error("lens 1 unreadable");
            if (folder.endsWith("/odd"))
                throw 42;
        }
        CamParamsZTM6::loadFisheyeImage(folder, shot, rgb, correct);
    }

    mutable std::atomic<int> widestTeam{0};
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

// A project folder name too long for the name field before the entries' last "/" is split where
// GNU tar splits it; one that no split can hold is a blocking finding of the check, made before any
// pano is built.
TEST(ArchiveExport, LongProjectFolderNamesExportOrAreFoundByTheCheck)
{
    for (const int length : {140, 155, 156}) {
        SCOPED_TRACE(length);
        ProjectFixture f;
        const QString folder = f.path(QString(length, 'L'));
        QDir().mkpath(folder);
        f.property->setFolder(folder);
        Building* house = f.addBuilding("House");
        Floor* ground = f.addFloor(house, "Ground");
        ground->setGradeHint(2);
        Panorama* pano = f.addUserScan(ground, "u");
        pano->reload(false);

        QList<DrcFinding> blocking = f.property->checkExport();
        blocking.removeIf([](const DrcFinding& finding) { return finding.code != 0; });
        if (length > 155) {
            ASSERT_EQ(blocking.size(), 1);
            EXPECT_EQ(blocking[0].subject, static_cast<Itemizeable*>(f.property.get()));
            EXPECT_TRUE(blocking[0].message.startsWith(
                "The project folder's name is too long for the export archive: it has 156 characters, at most 155 "
                "fit (the archive cannot hold the name \"" + QString(length, 'L') + "/quoril_exp.qjs\")."))
                << blocking[0].message.toStdString();
            EXPECT_FALSE(QFile::exists(pano->folder() + "/s.pic")) << "the check builds nothing";
            continue;
        }
        EXPECT_TRUE(blocking.isEmpty()) << blocking.value(0).message.toStdString();
        LogCapture log;
        QString html;
        ASSERT_TRUE(f.property->exportTar(html)) << log.texts(QtCriticalMsg).join("\n").toStdString();
        const QString archive = folder + "/_Export/" + QString(length, 'L') + ".quoril.tar";
        const ArchiveListing python = pythonTarListing(archive);
        ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
        const QString scan = QString(length, 'L') + "/" + pano->exportLabel() + "/";
        EXPECT_TRUE(python.names().contains(scan + "s.pic")) << python.names().join("\n").toStdString();
        EXPECT_EQ(gnuTarListing(archive).names(), python.names());
        EXPECT_EQ(outputLines(runProcess("bsdtar", {"-tf", archive})), python.names());
    }
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

TEST(BuildPass, BuildsEveryShownScanOnItsShareOfThePoolAndFailsTheExportWithEveryFailure)
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
    ASSERT_GT(before, 2) << "a machine with two cores cannot tell the limit from the default";
    EXPECT_EQ(f.failedExportReason(),
              "Failed to quoril some of the panos. Fix or remove the bad ones, or re-import the whole property.\n\n"
              "Could not process pano " + bad->folder() + ": lens 1 unreadable\n\n"
              "Could not process pano " + odd->folder() + ": Unknown failure.\n\n");
    f.expectPreviousExportKept();
    EXPECT_TRUE(hasPano(first) && hasPano(partial) && hasPano(f.user)) << "one failure does not stop the others";
    EXPECT_FALSE(hasPano(unknown) || hasPano(loose) || QFileInfo::exists(f.path("Job: 12/Ground/m1/s.pic")));
    EXPECT_GE(f.camera->widestTeam.load(), 1);
    EXPECT_LE(f.camera->widestTeam.load(), 2) << "the builds share the pool's two cores, not the machine's";
    EXPECT_EQ(omp_get_max_threads(), before) << "and the calling thread keeps its own";
    EXPECT_EQ(decipheredPicImage(first->folder() + "/s.pic").size(), QSize(7200, 3600));
}
