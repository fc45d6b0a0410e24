#include "pano/panorama.h"
#include "support/log_capture.h"
#include "support/model_fixture.h"
#include "support/pic_checks.h"
#include "support/scan_placement.h"
#include "support/test_support.h"
#include "support/thread_pool_size.h"
#include "support/two_lens_scan_fixture.h"

#include <QApplication>
#include <QDir>
#include <QJsonObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace testsupport;

namespace {

// The two-lens camera of the fixtures, watching the builds from inside: the width of an OpenMP
// team a build would get, and scans that fail by their folder's name ("bad" with a standard
// exception, "odd" with something else). With `hold` set, a build waits until it is released.
class ObservingCamera : public CamParamsZTM6 {
public:
    explicit ObservingCamera(const CamParamsZTM6& base) : CamParamsZTM6(base) {}

    void loadFisheyeImage(const QString& folder, int shot, QByteArray& rgb, bool correct) const override
    {
        if (shot == 0) {
            ++started;
            int team = 0;
#pragma omp parallel
            {
#pragma omp single
                team = omp_get_num_threads();
            }
            int current = widestTeam.load();
            while (team > current && !widestTeam.compare_exchange_weak(current, team)) {
            }
            for (int i = 0; i < 2000 && hold && !released; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (folder.endsWith("/bad"))
                throw std::runtime_error("lens 1 unreadable");
            if (folder.endsWith("/odd"))
                throw 42;
        }
        CamParamsZTM6::loadFisheyeImage(folder, shot, rgb, correct);
    }

    mutable std::atomic<int> started{0};
    mutable std::atomic<int> widestTeam{0};
    bool hold = false;
    std::atomic<bool> released{false};
};

struct BuildFixture : ProjectFixture {
    ObservingCamera* camera = nullptr;
    Building* house = addBuilding("House");
    Floor* ground = addFloor(house, "Ground");

    BuildFixture()
    {
        property->setName("Villa");
        auto observing = std::make_unique<ObservingCamera>(*makeTwoLensCamera());
        camera = observing.get();
        property->setCamParams(observing.release());
    }

    Panorama* twoLensScan(Floor* floor, const QString& name, PanoType type = PanoType::Full)
    {
        writeTwoLensScanFolder(floor->folderPath() + "/" + name);
        return placeScan(floor, name, type, {0, 0});
    }

    static bool hasPano(Panorama* pano) { return QFileInfo::exists(pano->folder() + "/s.pic"); }
};

// What the build pass's dialog showed, sampled while it was up; optionally clicks its Cancel once
// a build has started, and then lets the held builds go.
class DialogWatch {
public:
    DialogWatch(Property& property, ObservingCamera* cancelAfterStart = nullptr)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, &property, cancelAfterStart] {
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->labelText().startsWith("Quoriling panos... "))
                return;
            title = dialog->windowTitle();
            labels.insert(dialog->labelText());
            passMarked = passMarked || property.scanPassRunning();
            if (cancelAfterStart && cancelAfterStart->started > 0 && !canceled) {
                canceled = true;
                dialog->findChild<QPushButton*>()->click();
                cancelAfterStart->released = true;
            }
        });
        m_timer.start(1);
    }

    QString title;
    QSet<QString> labels;
    bool passMarked = false;
    bool canceled = false;

private:
    QTimer m_timer;
};

} // namespace

TEST(BuildPass, BuildsEveryShownScanWithOneOpenMpThreadInEachTask)
{
    GlobalPoolSize pool(2);
    BuildFixture f;
    Panorama* first = f.twoLensScan(f.ground, "first");
    Panorama* partial = f.twoLensScan(f.ground, "partial", PanoType::Partial);
    Panorama* user = f.addUserScan(f.ground, "user");
    Panorama* map = f.twoLensScan(f.ground, "map", PanoType::Map);
    Panorama* unknown = f.twoLensScan(f.ground, "unknown", PanoType::Unknown);
    Panorama* loose = f.twoLensScan(f.addFloor(f.house, "Pictures 2"), "loose");
    const int before = omp_get_max_threads();
    ASSERT_GT(before, 1) << "a machine with one core cannot tell the limit from the default";

    DialogWatch watch(*f.property);
    EXPECT_EQ(thrownMessage([&] { f.property->quorilPanos(); }), "(nothing thrown)");

    EXPECT_TRUE(BuildFixture::hasPano(first) && BuildFixture::hasPano(partial) && BuildFixture::hasPano(user));
    EXPECT_FALSE(BuildFixture::hasPano(map) || BuildFixture::hasPano(unknown) || BuildFixture::hasPano(loose));
    EXPECT_EQ(f.camera->started.load(), 2);
    EXPECT_EQ(f.camera->widestTeam.load(), 1) << "the limit reaches the pool threads";
    EXPECT_EQ(omp_get_max_threads(), before) << "the GUI thread's setting is untouched";

    EXPECT_EQ(exiftoolGPano(first->folder() + "/s.pic")["ProjectionType"].toString(), "equirectangular");
    EXPECT_EQ(decipheredPicImage(first->folder() + "/s.pic").size(), QSize(7200, 3600));

    EXPECT_EQ(watch.title, "Property: Villa");
    EXPECT_TRUE(watch.passMarked) << "the autosave is held off while the pass runs";
    EXPECT_FALSE(f.property->scanPassRunning());

    // Without a scan to build the pass ends at once.
    BuildFixture empty;
    empty.twoLensScan(empty.ground, "map", PanoType::Map);
    EXPECT_EQ(thrownMessage([&] { empty.property->quorilPanos(); }), "(nothing thrown)");
}

TEST(BuildPass, FailuresOfEveryKindAreReportedTogetherInTaskOrder)
{
    GlobalPoolSize pool(2);
    BuildFixture f;
    Panorama* bad = f.twoLensScan(f.ground, "bad");
    Panorama* good = f.twoLensScan(f.ground, "good");
    Panorama* odd = f.twoLensScan(f.ground, "odd");
    EXPECT_EQ(thrownMessage([&] { f.property->quorilPanos(); }),
              "Failed to quoril some of the panos. Fix or remove the bad ones, or re-import the whole property.\n\n"
              "Could not process pano " + bad->folder() + ": lens 1 unreadable\n\n"
              "Could not process pano " + odd->folder() + ": Unknown failure.\n\n");
    EXPECT_TRUE(BuildFixture::hasPano(good)) << "one failure does not stop the others";
}

TEST(BuildPass, CancelOfTheBuildLeavesThePreviousExportAlone)
{
    GlobalPoolSize pool(1);
    BuildFixture f;
    Panorama* first = f.twoLensScan(f.ground, "first");
    Panorama* second = f.twoLensScan(f.ground, "second");
    writeFile(f.path("_Export/" + QDir(f.path()).dirName() + ".quoril.tar"), "previous archive");
    f.camera->hold = true;

    LogCapture log;
    DialogWatch watch(*f.property, f.camera);
    QString html;
    EXPECT_FALSE(f.property->exportTar(html));
    EXPECT_TRUE(watch.canceled);
    EXPECT_EQ(log.texts(QtCriticalMsg), QStringList{"Could not export property \"Villa\" .\n Canceled by user."});
    EXPECT_EQ(f.camera->started.load(), 1) << "no build starts after Cancel";
    EXPECT_TRUE(BuildFixture::hasPano(first)) << "the running build completes";
    EXPECT_FALSE(BuildFixture::hasPano(second));
    EXPECT_EQ(listTree(f.path("_Export")), QStringList{QDir(f.path()).dirName() + ".quoril.tar"});
    EXPECT_EQ(readFile(f.path("_Export/" + QDir(f.path()).dirName() + ".quoril.tar")), "previous archive");
    EXPECT_TRUE(html.isEmpty());
}
