#include "app/app_settings.h"
#include "pano/panorama.h"
#include "project/cipher.h"
#include "support/archive_check.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/scan_placement.h"
#include "support/test_support.h"
#include "support/two_lens_scan_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;

namespace {

// The project folder's name holds a colon: the archive is named after its cleaned form.
const QString kFolderName = "Job: 12";
const QString kArchiveName = "Job- 12.quoril.tar";
const QString kPrefix = "Job- 12/";

void addAsset(const QString& scanFolder, const QString& name, const QByteArray& content)
{
    QDir().mkpath(scanFolder + "/assets");
    writeFile(scanFolder + "/assets/" + name, content);
}

Tag tagNamed(const QString& title)
{
    Tag tag;
    tag.title = title;
    return tag;
}

// A property of two buildings. House (walls 150 mm): "Ground" with a user scan (two tags, an
// asset), a map scan (an asset and a second "plan.pdf") and a full scan made from a picture whose
// panos already exist; "Pictures" with a user scan; "pictures old" (walls 200 mm) with a user scan
// (one tag). Shed: "Main" without scans or walls. User scans hold their preview.
struct ExportFixture : ProjectFixture {
    Building* house = nullptr;
    Building* shed = nullptr;
    Floor* ground = nullptr;
    Floor* pictures = nullptr;
    Floor* picturesOld = nullptr;
    Floor* shedMain = nullptr;
    Panorama* user = nullptr;
    Panorama* map = nullptr;
    Panorama* fromPicture = nullptr;
    Panorama* hidden = nullptr;
    Panorama* oldUser = nullptr;

    ExportFixture()
    {
        QDir().mkpath(path(kFolderName));
        property->setFolder(path(kFolderName));
        property->setName("Villa");
        property->setCamParams(makeTwoLensCamera().release());
        for (const QString file : {"system.cfg", "quorillog.txt", "nomivolog.txt"})
            writeFile(project(file), pseudoRandomBytes(700, qHash(file)));

        house = addBuilding("House");
        house->setExtWallThickness(150);
        ground = addFloor(house, "Ground");
        user = addUserScan(ground, "u1");
        user->appendTag(tagNamed("a"));
        user->appendTag(tagNamed("b"));
        addAsset(user->folder(), "plan.pdf", "first plan");
        QDir().mkpath(user->folder() + "/assets/sub"); // folders are no assets
        map = placeScan(ground, "m1", PanoType::Map, {500, 0});
        addAsset(map->folder(), "plan.pdf", "second plan");
        addAsset(map->folder(), "map.txt", "map notes");
        fromPicture = placeScan(ground, "e1", PanoType::Full, {0, 900}, 30, {{10, 20}, {-300, 40}});
        fromPicture->setEquirectangular(true);
        writeFile(fromPicture->folder() + "/t.pic", pseudoRandomBytes(900, 1));
        writeFile(fromPicture->folder() + "/s.pic", pseudoRandomBytes(3000, 2));

        pictures = addFloor(house, "Pictures");
        hidden = addUserScan(pictures, "p1");
        addAsset(hidden->folder(), "pic.txt", "not exported");

        picturesOld = addFloor(house, "pictures old");
        picturesOld->setActualExtWallThickness(200);
        oldUser = addUserScan(picturesOld, "u2");
        oldUser->appendTag(tagNamed("c"));

        shed = addBuilding("Shed");
        shedMain = addFloor(shed, "Main");

        for (Panorama* pano : {user, hidden, oldUser})
            pano->reload(false);
    }

    QString project(const QString& relative) const { return property->folder() + "/" + relative; }
    QString exportFolder() const { return project("_Export"); }
    QString archive() const { return exportFolder() + "/" + kArchiveName; }

    static QString scanEntry(Panorama* pano, const QString& file) { return kPrefix + pano->exportLabel() + "/" + file; }
    static QString floorEntry(Floor* floor, const QString& suffix)
    {
        return kPrefix + "floor" + QString::number(floor->uniqueId()) + suffix;
    }

    // Runs the export; the summary is appended to *html when given.
    bool runExport(QString* html = nullptr)
    {
        QString summary;
        return property->exportTar(html ? *html : summary);
    }

    // A previous export and a file of the user's in the export folder.
    void writePreviousExport()
    {
        writeFile(archive(), "previous archive");
        writeFile(exportFolder() + "/readme.txt", "kept by the user");
    }
    void expectPreviousExportKept()
    {
        EXPECT_EQ(listTree(exportFolder()), QStringList({kArchiveName, "readme.txt"}));
        EXPECT_EQ(readFile(archive()), "previous archive");
    }
};

QString criticalText(const LogCapture& log)
{
    const QStringList texts = log.texts(QtCriticalMsg);
    return texts.isEmpty() ? QString() : texts.last();
}

QString failureText(const QString& propertyName, const QString& reason)
{
    return "Could not export property \"" + propertyName + "\" .\n " + reason;
}

QByteArray deciphered(QByteArray data, char kind)
{
    EXPECT_TRUE(decipherBytes(data, kind));
    return data;
}

// Clicks Cancel in the export's progress dialog once it shows the given label.
class CancelWhenLabelled {
public:
    explicit CancelWhenLabelled(const QString& label)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, label] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QProgressDialog*>(widget);
                if (dialog && dialog->isVisible() && dialog->labelText() == label && !m_pressed) {
                    m_pressed = true;
                    const auto buttons = dialog->findChildren<QPushButton*>();
                    ASSERT_EQ(buttons.size(), 1);
                    buttons.first()->click();
                }
            }
        });
        m_timer.start(0);
    }
    bool pressed() const { return m_pressed; }

private:
    QTimer m_timer;
    bool m_pressed = false;
};

} // namespace

TEST(ArchiveExport, WritesTheEntriesInTheirOrderAndReplacesThePreviousExport)
{
    ExportFixture f;
    f.writePreviousExport();
    writeFile(f.exportFolder() + "/Old name.quoril.tar.tmp", "left by a crash");
    LogCapture log;
    QString html = "<p>before</p>";
    ASSERT_TRUE(f.runExport(&html)) << criticalText(log).toStdString();
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty());
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_EQ(listTree(f.exportFolder()), QStringList{kArchiveName});

    const QStringList expected{
        kPrefix + "quoril_exp.qjs",
        kPrefix + "/system.cfg",
        kPrefix + "/quorillog.txt",
        kPrefix + "/nomivolog.txt",
        f.floorEntry(f.ground, ".qsv"),
        f.floorEntry(f.ground, ".qdx"),
        f.scanEntry(f.user, "pc.dat"),
        f.scanEntry(f.user, "t.pic"),
        f.scanEntry(f.user, "s.pic"),
        kPrefix + "/_Assets/plan.pdf",
        kPrefix + "/_Assets/map.txt", // the map scan's "plan.pdf" is the user scan's name again
        f.scanEntry(f.fromPicture, "t.pic"),
        f.scanEntry(f.fromPicture, "s.pic"),
        f.scanEntry(f.fromPicture, "pc.dat"),
        f.floorEntry(f.picturesOld, ".qsv"),
        f.floorEntry(f.picturesOld, ".qdx"),
        f.scanEntry(f.oldUser, "pc.dat"),
        f.scanEntry(f.oldUser, "t.pic"),
        f.scanEntry(f.oldUser, "s.pic"),
        f.floorEntry(f.shedMain, ".qsv"),
        f.floorEntry(f.shedMain, ".qdx"),
    };
    EXPECT_EQ(f.user->exportLabel(), "Ground_u1#" + QString::number(f.user->uniqueId()));
    EXPECT_EQ(f.oldUser->exportLabel(), "pictures o_u2#" + QString::number(f.oldUser->uniqueId()));

    const ArchiveListing python = pythonTarListing(f.archive());
    ASSERT_TRUE(python.failure.isEmpty()) << python.failure.toStdString();
    EXPECT_EQ(python.names(), expected);
    const ArchiveListing gnu = gnuTarListing(f.archive());
    ASSERT_TRUE(gnu.failure.isEmpty()) << gnu.failure.toStdString();
    EXPECT_EQ(gnu.names(), expected);

    // The first scan's "plan.pdf" is the one kept; the end-to-end check compares every copy.
    EXPECT_EQ(python.members[9].sha1, sha1sumOf(f.user->folder() + "/assets/plan.pdf"));

    // The scan made from a picture got its point cloud file made for the export; the others carry
    // their outline directly.
    EXPECT_EQ(deciphered(readFile(f.fromPicture->folder() + "/pc.dat"), CipherKind::Data),
              deciphered(f.fromPicture->pointcloudData(), CipherKind::Data));
    EXPECT_EQ(deciphered(pythonTarMember(f.archive(), f.scanEntry(f.user, "pc.dat")), CipherKind::Data),
              deciphered(f.user->pointcloudData(), CipherKind::Data));

    const auto row = [](const QString& floor, const QString& value) {
        return "<tr><th> <th><th align=\"left\">" + floor + "</th><th>:<th><th align=\"left\">" + value
            + "</th></tr> ";
    };
    EXPECT_EQ(html, "<p>before</p><h3>EXTERIOR WALL THICKNESS SUMMARY</h3>"
                    "<p>HOUSE</p><table>" + row("GROUND", "15 cm") + row("PICTURES OLD", "20 cm") + "</table>"
                    "<p>SHED</p><table>" + row("MAIN", "not provided") + "</table>"
                    "<h3>TAGS SUMMARY</h3>"
                    "<p>HOUSE</p><table>" + row("GROUND", "2") + row("PICTURES OLD", "1") + "</table>"
                    "<p>SHED</p><table>" + row("MAIN", "0") + "</table>");
}

TEST(ArchiveExport, SummaryEscapesNamesAndFollowsTheUnitSetting)
{
    ProjectFixture f;
    f.property->setName("Villa");
    Building* lab = f.addBuilding("R&D <lab>");
    lab->setExtWallThickness(254);
    Floor* floor = f.addFloor(lab, "Level \"1\"");
    f.addUserScan(floor, "u")->reload(false);
    AppSettings::metricSystem = false;
    QString html;
    LogCapture log;
    const bool ok = f.property->exportTar(html);
    AppSettings::metricSystem = true;
    ASSERT_TRUE(ok) << criticalText(log).toStdString();
    EXPECT_TRUE(html.contains("<p>R&amp;D &lt;LAB&gt;</p><table><tr><th> <th><th align=\"left\">LEVEL &quot;1&quot;"
                              "</th><th>:<th><th align=\"left\">10\"</th></tr> </table>"))
        << html.toStdString();
    EXPECT_FALSE(html.contains("<lab>", Qt::CaseInsensitive));
}

TEST(ArchiveExport, NamesStayRelativeAndLeaveOutWhatIsNotThere)
{
    ProjectFixture f;
    // Nothing is left of this name once cleaned.
    const QString blank = f.path("   ");
    QDir().mkpath(blank);
    f.property->setFolder(blank);
    f.property->setName("Blank");
    writeFile(blank + "/system.cfg", "calibration");
    f.property->setTrialCalibrationApplied(true); // its file would not match the scans
    Building* house = f.addBuilding("House");
    Floor* floor = f.addFloor(house, "Ground");
    Panorama* pano = f.addUserScan(floor, "u");
    pano->reload(false);
    addAsset(pano->folder(), QString(120, 'a') + ".txt", "too long a name for the archive");
    addAsset(pano->folder(), "short.txt", "fits");

    LogCapture log;
    QString html;
    ASSERT_TRUE(f.property->exportTar(html)) << criticalText(log).toStdString();
    EXPECT_TRUE(log.contains(QtWarningMsg, "too long")) << log.texts(QtWarningMsg).join("\n").toStdString();
    EXPECT_TRUE(log.contains(QtWarningMsg, QString(120, 'a')));

    const QString archive = blank + "/_Export/Project.quoril.tar";
    const ArchiveListing listing = pythonTarListing(archive);
    ASSERT_TRUE(listing.failure.isEmpty()) << listing.failure.toStdString();
    const QString scan = "Project/Ground_u#" + QString::number(pano->uniqueId()) + "/";
    const QString floorBase = "Project/floor" + QString::number(floor->uniqueId());
    EXPECT_EQ(listing.names(), QStringList({"Project/quoril_exp.qjs", floorBase + ".qsv", floorBase + ".qdx",
                                            scan + "pc.dat", scan + "t.pic", scan + "s.pic",
                                            "Project//_Assets/short.txt"}));
}

TEST(ArchiveExport, FailuresBeforeTheArchiveIsWrittenKeepThePreviousExport)
{
    {
        SCOPED_TRACE("a scan that cannot be built");
        ExportFixture f;
        Panorama* broken = placeScan(f.picturesOld, "broken", PanoType::User, {0, 0});
        f.writePreviousExport();
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_TRUE(criticalText(log).startsWith(failureText(
            "Villa", "Failed to quoril some of the panos. Fix or remove the bad ones, or re-import the whole "
                     "property.\n\nCould not process pano " + broken->folder() + ": ")))
            << criticalText(log).toStdString();
        f.expectPreviousExportKept();
    }
    {
        SCOPED_TRACE("no export folder to be had");
        ExportFixture f;
        writeFile(f.exportFolder(), "a file where the folder belongs");
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_EQ(criticalText(log),
                  failureText("Villa", "Could not create export folder - check free disk space or if export folder "
                                       "is in use."));
        EXPECT_EQ(readFile(f.exportFolder()), "a file where the folder belongs");
    }
    {
        SCOPED_TRACE("no temporary archive to be had");
        ExportFixture f;
        f.writePreviousExport();
        const QString temporary = f.archive() + ".tmp";
        QDir().mkpath(temporary + "/inside");
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_EQ(criticalText(log), failureText("Villa", "Could not create export tar file: " + temporary
                                                              + ". Check free disk space and folder permissions."));
        EXPECT_TRUE(QFileInfo(temporary + "/inside").isDir());
        EXPECT_EQ(readFile(f.archive()), "previous archive");
    }
}

TEST(ArchiveExport, FailuresWhileWritingRemoveOnlyTheTemporaryArchive)
{
    {
        SCOPED_TRACE("cancel between scans");
        ExportFixture f;
        f.writePreviousExport();
        LogCapture log;
        CancelWhenLabelled cancel("Exporting floor: House/pictures old");
        EXPECT_FALSE(f.runExport());
        EXPECT_TRUE(cancel.pressed());
        EXPECT_EQ(criticalText(log), failureText("Villa", "Canceled"));
        f.expectPreviousExportKept();
    }
    {
        SCOPED_TRACE("a missing preview");
        ExportFixture f;
        f.writePreviousExport();
        QFile::remove(f.oldUser->folder() + "/t.pic");
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_EQ(criticalText(log), failureText("Villa", "Could not open file: " + f.oldUser->folder() + "/t.pic"));
        f.expectPreviousExportKept();
    }
    {
        SCOPED_TRACE("a full disk");
        ExportFixture f;
        f.writePreviousExport();
        const QString device = f.path("full");
        ASSERT_EQ(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
        ASSERT_TRUE(QFile::link(device, f.archive() + ".tmp"));
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_EQ(criticalText(log),
                  failureText("Villa", "Failed to write data to tar file. Check for free disk space."));
        f.expectPreviousExportKept();
        EXPECT_TRUE(QFileInfo(device).exists());
    }
    {
        SCOPED_TRACE("the final rename fails");
        ExportFixture f;
        QDir().mkpath(f.archive() + "/in the way");
        LogCapture log;
        EXPECT_FALSE(f.runExport());
        EXPECT_EQ(criticalText(log), failureText("Villa", "Could not give the export tar file its name: "
                                                              + f.archive()
                                                              + ". Check free disk space and folder permissions."));
        EXPECT_EQ(listTree(f.exportFolder()), QStringList({kArchiveName + "/", kArchiveName + "/in the way/"}));
    }
}
