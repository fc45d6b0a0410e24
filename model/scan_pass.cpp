#include "model/scan_pass.h"

#include "base/main_thread.h"
#include "base/progress.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QMutex>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <omp.h>

#include <algorithm>
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
    explicit OpenMpThreadLimit(int threads) : m_saved(omp_get_max_threads()) { omp_set_num_threads(threads); }
    ~OpenMpThreadLimit() { omp_set_num_threads(m_saved); }
    OpenMpThreadLimit(const OpenMpThreadLimit&) = delete;
    OpenMpThreadLimit& operator=(const OpenMpThreadLimit&) = delete;

private:
    const int m_saved;
};

// The cores of a pass among its running tasks. Fewer tasks than cores still use them all (three
// scans on eight cores: 2, 3 and 3 threads), and the running tasks together never hold more than
// the cores while each has at least one.
class CoreShares {
public:
    CoreShares(int cores, int tasks, int atOnce) : m_free(cores), m_unstarted(tasks), m_atOnce(atOnce) {}

    int take()
    {
        const QMutexLocker lock(&m_mutex);
        const int joining = std::max(1, std::min(m_unstarted, m_atOnce - m_running));
        const int share = std::max(1, m_free / joining);
        --m_unstarted;
        ++m_running;
        m_free -= share;
        return share;
    }
    void giveBack(int share)
    {
        const QMutexLocker lock(&m_mutex);
        --m_running;
        m_free += share;
    }

private:
    QMutex m_mutex;
    int m_free;
    int m_unstarted;
    const int m_atOnce;
    int m_running = 0;
};

// A task's share of the cores, held while it runs, as the OpenMP thread count of its pool thread.
class CoreShare {
public:
    explicit CoreShare(CoreShares& shares) : m_shares(shares), m_share(shares.take()), m_limit(m_share) {}
    ~CoreShare() { m_shares.giveBack(m_share); }
    CoreShare(const CoreShare&) = delete;
    CoreShare& operator=(const CoreShare&) = delete;

private:
    CoreShares& m_shares;
    const int m_share;
    const OpenMpThreadLimit m_limit;
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
    // As many threads as the global pool allows, but not the global pool's own: Qt's raster
    // painting draws on that pool and waits for a free thread, so a pass that filled it would
    // freeze the dialog (and its Cancel) until the end.
    const int cores = std::max(1, QThreadPool::globalInstance()->maxThreadCount());
    const int atOnce = options.maxTasksAtOnce > 0 ? std::min(cores, options.maxTasksAtOnce) : cores;
    CoreShares shares(cores, static_cast<int>(tasks.size()), atOnce);
    QThreadPool pool;
    pool.setMaxThreadCount(atOnce);
    QFuture<void> future = QtConcurrent::map(&pool, tasks, [body, &shares](PanoTask& task) {
        const CoreShare share(shares);
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
