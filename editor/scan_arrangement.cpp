#include "editor/scan_arrangement.h"

#include "base/progress.h"
#include "base/questions.h"
#include "model/floor.h"
#include "model/panorama.h"
#include "model/property.h"
#include "numerics/outline_match.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QTimer>
#include <QTransform>
#include <QUndoStack>
#include <QtConcurrent/QtConcurrentRun>
#include <QtMath>

#include <memory>
#include <vector>

namespace {
constexpr int kProgressIntervalMs = 100;

QString title()
{
    return ScanArrangement::tr("Arrange scans");
}

void tell(QWidget* parent, Questions::Icon icon, const QString& text)
{
    questions().question(parent, icon, title(), text, Questions::Ok, Questions::Ok);
}

void appendOutline(const Panorama* pano, std::vector<double>& xy)
{
    const QTransform toScene = pano->sceneTransform();
    for (const QPoint& p : pano->outline()) {
        const QPointF q = toScene.map(QPointF(p));
        xy.push_back(q.x());
        xy.push_back(q.y());
    }
}

// The search on a thread of its own, so that the window keeps painting and the progress keeps
// answering its Cancel. False when cancelled.
bool matchBehindProgress(const std::vector<double>& reference, const std::vector<double>& moving, QPointF pivot,
                         std::vector<OutlinePlacement>& found, QWidget* parent)
{
    ProgressRequest request;
    request.title = title();
    request.label = ScanArrangement::tr("Matching the selected scans' outlines with the floor's other scans...");
    request.cancelText = ScanArrangement::tr("Cancel");
    request.parent = parent;
    request.applicationModal = true;
    request.minimumWidth = 400;
    std::unique_ptr<Progress> progress = openProgress(request);
    // Shared with the cancel handler, which the progress may keep after this returns.
    const auto control = std::make_shared<OutlineMatchControl>();
    progress->setCancelHandler([control] { control->cancel = true; });
    QTimer ticker;
    ticker.setInterval(kProgressIntervalMs);
    QObject::connect(&ticker, &QTimer::timeout, [&progress, control] {
        progress->setRange(0, control->total);
        progress->setValue(control->done);
    });
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QFutureWatcher<bool> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, [&progress] { progress->finish(); });
    watcher.setFuture(QtConcurrent::run(&pool, [&reference, &moving, pivot, &found, control] {
        return matchOutline(reference.data(), int64_t(reference.size() / 2), moving.data(),
                            int64_t(moving.size() / 2), pivot.x(), pivot.y(), OutlineMatchOptions(), found,
                            control.get());
    }));
    ticker.start();
    progress->waitUntilFinished();
    ticker.stop();
    if (progress->wasCancelled())
        control->cancel = true;
    watcher.waitForFinished();
    watcher.disconnect();
    const bool matched = watcher.result() && !progress->wasCancelled();
    progress->finish();
    return matched;
}
} // namespace

void ScanArrangement::arrangeSelected(Floor* floor, QWidget* parent)
{
    // A drag still in progress owns the open macro.
    if (!floor || floor->macroDepth() != 0)
        return;
    const Property* property = floor->idRegistry();
    if (!property || !property->isSupportedCameraModel()) {
        const QString serial = property ? property->cameraSerialNumber() : QString();
        tell(parent, Questions::Warning,
             tr("Scans can be arranged only in projects of the supported lidar cameras, whose serial numbers "
                "begin with MS, MX or R1. This project's camera (serial \"%1\") is not one of them; nothing was "
                "moved.")
                 .arg(serial));
        return;
    }
    const QList<QGraphicsItem*> selection = floor->selectedItems();
    QList<Panorama*> scans;
    bool somethingToMatch = false;
    QStringList withoutOutline;
    for (Panorama* pano : floor->panos()) {
        if (selection.contains(pano)) {
            scans << pano;
            if (pano->outline().isEmpty())
                withoutOutline << pano->ownName();
        } else {
            somethingToMatch = somethingToMatch || !pano->outline().isEmpty();
        }
    }
    if (scans.isEmpty()) {
        tell(parent, Questions::Information, tr("Select the scans to arrange on the floor first."));
        return;
    }
    if (!withoutOutline.isEmpty()) {
        tell(parent, Questions::Warning,
             tr("These selected scans have no lidar outline to match: %1. Nothing was moved.")
                 .arg(withoutOutline.join(", ")));
        return;
    }
    if (!somethingToMatch) {
        tell(parent, Questions::Warning,
             tr("There is nothing on this floor to arrange the selected scans against: no other scan on it has a "
                "lidar outline. Nothing was moved."));
        return;
    }

    QList<ArrangeCandidate>& results = floor->arrangeResults();
    int& cursor = floor->arrangeCursor();
    if (continuesSession(floor, scans)) {
        cursor = (cursor + 1) % int(results.size());
        apply(results[cursor]);
        return;
    }
    if (!search(floor, scans, parent) || results.isEmpty())
        return;
    cursor = 0;
    if (results[0].error > kTrustedError) {
        const Questions::Button answer = questions().question(
            parent, Questions::Question, title(),
            tr("No good placement was found: at the best one, the selected scans' outlines lie %1 mm on average from "
               "the other scans' (a good match stays below %2 mm). Move the scans there anyway?")
                .arg(results[0].error, 0, 'f', 0)
                .arg(kTrustedError, 0, 'f', 0),
            Questions::Yes | Questions::No, Questions::No);
        if (answer != Questions::Yes) {
            // Asking again with the same selection then steps to the best one.
            cursor = -1;
            return;
        }
    }
    apply(results[0]);
}

bool ScanArrangement::continuesSession(Floor* floor, const QList<Panorama*>& scans) const
{
    const QUndoStack* stack = floor->undoStack();
    return m_session.floor == floor && m_session.scans == scans && !floor->arrangeResults().isEmpty()
        && stack->index() == m_session.undoIndex && stack->count() == m_session.undoCount
        && (stack->index() > 0 ? stack->command(stack->index() - 1) : nullptr) == m_session.lastCommand;
}

bool ScanArrangement::search(Floor* floor, const QList<Panorama*>& scans, QWidget* parent)
{
    std::vector<double> reference;
    std::vector<double> moving;
    QPointF pivot;
    for (const Panorama* pano : floor->panos()) {
        if (scans.contains(pano)) {
            appendOutline(pano, moving);
            pivot += pano->scenePos();
        } else {
            appendOutline(pano, reference);
        }
    }
    pivot /= double(scans.size());
    std::vector<OutlinePlacement> found;
    const QPointer<Floor> guard(floor);
    if (!matchBehindProgress(reference, moving, pivot, found, parent) || !guard)
        return false;
    // The floor may have changed while the search ran.
    for (Panorama* pano : scans)
        if (!floor->panos().contains(pano))
            return false;

    QList<ArrangeCandidate>& results = floor->arrangeResults();
    results.clear();
    for (const OutlinePlacement& p : found)
        results.append({QPointF(p.tx, p.ty), p.angle, p.error, pivot});
    m_session = Session{};
    m_session.floor = floor;
    m_session.scans = scans;
    for (const Panorama* pano : scans)
        m_session.before << pano->state();
    remember();
    return true;
}

void ScanArrangement::apply(const ArrangeCandidate& candidate)
{
    Floor* floor = m_session.floor;
    const QPointF pivot = candidate.pivot;
    const QTransform move = QTransform()
                                .translate(pivot.x() + candidate.translation.x(), pivot.y() + candidate.translation.y())
                                .rotateRadians(candidate.rotation)
                                .translate(-pivot.x(), -pivot.y());
    QList<QVariantList> after;
    bool changes = false;
    for (int i = 0; i < m_session.scans.size(); ++i) {
        const QVariantList& before = m_session.before[i];
        after << QVariantList{move.map(before[0].toPointF()),
                              before[1].toDouble() + qRadiansToDegrees(candidate.rotation)};
        changes = changes || after.last() != m_session.scans[i]->state();
    }
    // An empty macro would still be an undo step.
    if (changes) {
        floor->beginMacro(tr("Arrange scans"));
        for (int i = 0; i < m_session.scans.size(); ++i) {
            Panorama* pano = m_session.scans[i];
            pano->beginEdit(false);
            pano->setPos(after[i][0].toPointF());
            pano->setRotation(after[i][1].toDouble());
        }
        floor->endMacro();
    }
    remember();
}

void ScanArrangement::remember()
{
    const QUndoStack* stack = m_session.floor->undoStack();
    m_session.undoIndex = stack->index();
    m_session.undoCount = stack->count();
    m_session.lastCommand = stack->index() > 0 ? stack->command(stack->index() - 1) : nullptr;
}
