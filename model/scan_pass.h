#pragma once

#include <QList>
#include <QString>

#include <functional>

class Panorama;
class Property;
class Progress;
class QWidget;

// The unit of the parallel per-scan passes (the load's reload, the export's build): a scan, not
// owned, and its failure text, empty when the scan's step succeeded. Each pool thread touches
// only its own task and its own scan; the GUI thread reads the texts after the pass.
struct PanoTask {
    Panorama* pano = nullptr;
    QString text;
};

// Runs step on the task's scan. Whatever escapes it becomes the task's text:
// "Could not process pano " + the scan folder + separator + the failure's message.
void runPanoStep(PanoTask& task, const std::function<void(Panorama&)>& step, const QString& separator);

// The load's map body: reloads the scan from its folder (Panorama::reload(false)).
void loadPanoTask(PanoTask& task);

// The texts of the failed tasks in task order, each followed by a blank line; tasks whose text
// `include` rejects are left out.
QString joinFailureTexts(const QList<PanoTask>& tasks, const std::function<bool(const QString&)>& include = {});

// One parallel map over the tasks, on as many threads as Qt's global thread pool allows (the cores
// the pass may use) or fewer when asked, while the GUI thread waits in a modal progress that follows
// the map's progress. The tasks running at once share those cores for their OpenMP regions: a task
// takes its share when it starts (the free cores over the tasks that can still join it, at least
// one) and hands it back when it ends. Cancel in that progress starts no new task; the running ones
// finish behind a "Canceling..." progress before run returns.
class ScanPass {
public:
    enum class Outcome { Finished, Canceled };

    struct Options {
        Progress* progress = nullptr;                 // shown, modal; the caller owns it
        std::function<void(PanoTask&)> body;          // pool threads
        std::function<void(int done, int total)> onProgress; // GUI thread, optional
        int maxTasksAtOnce = 0;                       // 0: one task per core
        Property* property = nullptr;                 // marked as running a pass meanwhile
    };

    static Outcome run(QList<PanoTask>& tasks, const Options& options);
};
