#include "model/scan_pass.h"

#include "base/main_thread.h"
#include "base/progress.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <omp.h>

#include <exception>
#include <optional>

namespace {

QString failureText(const PanoTask& task, const QString& separator, const QString& message)
{
    return QObject::tr("Could not process pano ") + (task.pano ? task.pano->folder() : QString()) + separator
        + message;
}

// OpenMP's thread count is a per-thread setting: it has to be set on the pool thread itself.
class OpenMpThreadLimit {
public:
    explicit OpenMpThreadLimit(bool active) : m_saved(active ? omp_get_max_threads() : 0)
    {
        if (active)
            omp_set_num_threads(1);
    }
    ~OpenMpThreadLimit()
    {
        if (m_saved > 0)
            omp_set_num_threads(m_saved);
    }
    OpenMpThreadLimit(const OpenMpThreadLimit&) = delete;
    OpenMpThreadLimit& operator=(const OpenMpThreadLimit&) = delete;

private:
    const int m_saved;
};

} // namespace

void runPanoStep(PanoTask& task, const std::function<void(Panorama&)>& step, const QString& separator)
{
    try {
        if (!task.pano)
            throw std::runtime_error("no scan");
        step(*task.pano);
    } catch (const std::exception& e) {
        task.text = failureText(task, separator, QString::fromUtf8(e.what()));
    } catch (...) {
        // Anything else is a failure too; reporting it as success would hide a broken scan.
        task.text = failureText(task, separator, QObject::tr("Unknown failure."));
    }
}

void loadPanoTask(PanoTask& task)
{
    runPanoStep(task, [](Panorama& pano) { pano.reload(false); }, QStringLiteral(". "));
}

QString joinFailureTexts(const QList<PanoTask>& tasks, const std::function<bool(const QString&)>& include)
{
    QString joined;
    for (const PanoTask& task : tasks) {
        if (!task.text.isEmpty() && (!include || include(task.text)))
            joined += task.text + "\n\n";
    }
    return joined;
}

ScanPass::Outcome ScanPass::run(QList<PanoTask>& tasks, const Options& options)
{
    Progress* progress = options.progress;
    // Pool threads use the scans' records meanwhile; the autosave waits for the end of the pass.
    std::optional<Property::ScanPassGuard> passGuard;
    if (options.property)
        passGuard.emplace(*options.property);
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [progress] { progress->finish(); });
    progress->setCancelHandler([&watcher] { watcher.cancel(); });
    QObject::connect(&watcher, &QFutureWatcherBase::progressRangeChanged,
                     [progress](int minimum, int maximum) { progress->setRange(minimum, maximum); });
    QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged,
                     [progress](int value) { progress->setValue(value); });
    if (options.onProgress) {
        const int total = static_cast<int>(tasks.size());
        QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged,
                         [&options, total](int done) { options.onProgress(done, total); });
    }
    ProgressRequest cancelingRequest;
    cancelingRequest.label = QObject::tr("Canceling...");
    cancelingRequest.ownedByWindow = true;
    cancelingRequest.hiddenUntilWaiting = true;
    const std::unique_ptr<Progress> canceling = openProgress(cancelingRequest);
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [&canceling] { canceling->finish(); });
    const std::function<void(PanoTask&)> body = options.body;
    const bool singleThread = options.singleOpenMpThread;
    // As many threads as the global pool allows, but not the global pool's own: Qt's raster
    // painting draws on that pool and waits for a free thread, so a pass that filled it would
    // freeze the dialog (and its Cancel) until the end.
    QThreadPool pool;
    pool.setMaxThreadCount(QThreadPool::globalInstance()->maxThreadCount());
    QFuture<void> future = QtConcurrent::map(&pool, tasks, [body, singleThread](PanoTask& task) {
        const OpenMpThreadLimit limit(singleThread);
        try {
            body(task);
        } catch (...) {
            if (task.text.isEmpty())
                task.text = failureText(task, QStringLiteral(". "), QObject::tr("Unknown failure."));
        }
    });
    watcher.setFuture(future);
    progress->waitUntilFinished();
    if (future.isFinished()) {
        watcher.disconnect();
        return Outcome::Finished;
    }
    if (!progress->wasCancelled()) {
        future.waitForFinished();
        watcher.disconnect();
        return Outcome::Finished;
    }
    canceling->waitUntilFinished();
    future.waitForFinished();
    watcher.disconnect();
    // What the finished tasks posted lands before the caller drops the scans (the load resets).
    runPendingMainThreadJobs();
    return Outcome::Canceled;
}
