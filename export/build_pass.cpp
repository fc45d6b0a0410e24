#include "base/progress.h"
#include "model/building.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "model/scan_pass.h"


#include <memory>
#include <stdexcept>

namespace {

// A build of camera size holds about 270 MB at its peak (lens images, pano, seam bands and their
// pyramid): three at once keep the pass under a gigabyte whatever the number of cores.
constexpr int kFullPanoBuildsAtOnce = 3;

void buildPanoTask(PanoTask& task)
{
    runPanoStep(task, [](Panorama& pano) { pano.buildPano(); }, QStringLiteral(": "));
}

} // namespace

void Property::quorilPanos()
{
    QList<PanoTask> tasks;
    for (Building* building : std::as_const(m_buildings)) {
        for (Floor* floor : building->floors()) {
            if (floor->isPicturesFloor())
                continue;
            for (Panorama* pano : floor->panos())
                if (isBuildablePanoType(pano->panoType()))
                    tasks.append({pano, QString()});
        }
    }

    const QString label = tr("Quoriling panos... ");
    ProgressRequest request;
    request.title = tr("Property: ") + name();
    request.label = label;
    request.cancelText = tr("Cancel");
    request.maximum = static_cast<int>(tasks.size());
    request.ownedByWindow = true;
    request.applicationModal = true;
    const std::unique_ptr<Progress> dialog = openProgress(request);

    ScanPass::Options options;
    options.progress = dialog.get();
    options.body = buildPanoTask;
    options.onProgress = [&dialog, &label](int done, int total) {
        dialog->setLabel(label + QString::number(done) + "/" + QString::number(total));
    };
    // The pass's memory is bounded by how many builds run together; those share the cores.
    options.maxTasksAtOnce = kFullPanoBuildsAtOnce;
    options.property = this;
    if (ScanPass::run(tasks, options) == ScanPass::Outcome::Canceled)
        throw std::runtime_error(tr("Canceled by user.").toStdString());

    const QString failures = joinFailureTexts(tasks);
    if (!failures.isEmpty())
        throw std::runtime_error((tr("Failed to quoril some of the panos. Fix or remove the bad ones, or re-import "
                                     "the whole property.\n\n")
                                  + failures)
                                     .toStdString());
}
