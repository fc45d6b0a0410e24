// The automatic alignment of a one-lens scan beside the rest of the scan's build. A one-lens lidar
// project of one scan of 1200-pixel shots (the synthetic room of the tests, the camera's turns
// off and the camera tilted) is generated and loaded; then, on the scan's shots as processing
// loads them:
//   BM_AlignShotsFeature   alignShots in the feature mode at the strip width (1200)
//   BM_AutoLevelStrict     autoLevelFromVerticals as processing runs it, from level
//   BM_ScanBuild           the scan processed again (reload: shots, alignment, levelling, colours,
//                          preview) and its full pano built: the whole build of the scan
// share = (align + level) / build; added = (align + level) / (build - align - level).
//
//   build/bench/shot_alignment_bench --benchmark_repetitions=1   (run it several times, interleaved)

#include "camera/auto_level.h"
#include "camera/cam_params_ztm5.h"
#include "camera/shot_alignment.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "support/room_scene.h"

#include <QApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {
constexpr int kSide = 1200;

QString supportScript(const char* name)
{
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tests/support/" + name;
}

bool runPython(const QStringList& arguments, QByteArray* out = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start("/usr/bin/python3", arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return false;
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

struct RoomProject {
    QTemporaryDir root;
    QString folder = root.filePath("Room");
    std::unique_ptr<Property> property = std::make_unique<Property>();
    Panorama* scan = nullptr;
    const CamParamsZTM5* camera = nullptr;
    QByteArray shots[3];

    RoomProject()
    {
        QByteArray described;
        if (!runPython({supportScript("make_ztm5_project.py"), folder, "--describe", "--scans", "1", "--side",
                        QString::number(kSide)},
                       &described))
            return;
        const QJsonObject description = QJsonDocument::fromJson(described).object();
        if (!runPython({supportScript("make_system_cfg.py"), folder + "/system.cfg", "--model", "ztm5", "--serial",
                        description["serial"].toString(), "--width", QString::number(kSide), "--height",
                        QString::number(kSide), "--set", "F=371.5", "--set", "U0=600", "--set", "V0=600", "--set",
                        "RCA=1", "--set", "BCA=1"}))
            return;
        CamParamsZTM5 lens;
        if (!lens.loadSystemFile(folder + "/system.cfg"))
            return;
        ImageParams pose;
        pose[ImageParams::ROLL_2] = 0.012f, pose[ImageParams::YAW_2] = -0.026f, pose[ImageParams::PITCH_2] = 0.009f;
        pose[ImageParams::ROLL_3] = -0.007f, pose[ImageParams::YAW_3] = 0.031f, pose[ImageParams::PITCH_3] = -0.015f;
        pose[ImageParams::ROLL_GLOBAL] = 0.02f, pose[ImageParams::PITCH_GLOBAL] = -0.012f;
        testsupport::writeRoomShots(lens, pose, testsupport::RoomScene{},
                                    folder + "/" + description["scans"].toArray().at(0).toObject()["dir"].toString());
        if (!property->load(folder))
            return;
        for (Building* building : property->buildings())
            for (Floor* floor : building->floors())
                for (Panorama* pano : floor->panos())
                    scan = pano;
        camera = dynamic_cast<const CamParamsZTM5*>(property->camParams());
        if (!scan || !camera)
            return;
        for (int k = 0; k < 3; ++k)
            camera->loadFisheyeImage(scan->folder(), k, shots[k], true);
    }
    bool ready() const { return scan && camera && !shots[2].isEmpty(); }
    const uint8_t* shot(int k) const { return reinterpret_cast<const uint8_t*>(shots[k].constData()); }
};

std::unique_ptr<RoomProject> loadedProject;

RoomProject* project(benchmark::State& state)
{
    if (!loadedProject)
        loadedProject = std::make_unique<RoomProject>();
    if (loadedProject->ready())
        return loadedProject.get();
    state.SkipWithError("the project could not be generated or loaded");
    return nullptr;
}

void BM_AlignShotsFeature(benchmark::State& state)
{
    RoomProject* room = project(state);
    if (!room)
        return;
    bool accepted = false;
    for (auto _ : state) {
        float angles[8] = {};
        accepted = alignShots(*room->camera, room->shot(0), room->shot(1), room->shot(2), kSide, 0, angles);
        benchmark::DoNotOptimize(angles);
    }
    state.counters["accepted"] = accepted;
}

void BM_AutoLevelStrict(benchmark::State& state)
{
    RoomProject* room = project(state);
    if (!room)
        return;
    for (auto _ : state) {
        ImageParams p = room->scan->imageParams();
        p[ImageParams::ROLL_GLOBAL] = p[ImageParams::PITCH_GLOBAL] = 0.0f;
        autoLevelFromVerticals(room->shot(0), room->shot(1), room->shot(2), kSide, kSide, p, true, room->camera);
        benchmark::DoNotOptimize(p);
    }
}

void BM_ScanBuild(benchmark::State& state)
{
    RoomProject* room = project(state);
    if (!room)
        return;
    for (auto _ : state) {
        room->scan->resetImageParams(true);
        room->scan->reload(true);
        room->scan->buildPano();
    }
}
} // namespace

BENCHMARK(BM_AlignShotsFeature)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_AutoLevelStrict)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanBuild)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loadedProject.reset();
    return 0;
}
