#pragma once

#include <functional>

class QObject;

// Runs fn once on the GUI thread, at an event-loop pass after this call has returned (also when
// called on the GUI thread). Safe to call from any thread. With a context object, fn is dropped
// without running if that object is destroyed first.
void runOnMainThread(std::function<void()> fn, QObject* context = nullptr);

// Runs, on the GUI thread, every job posted to it before this call, and the events queued ahead of
// them, without taking user input; returns once the last of them has run. Results that pool threads
// hand over this way (new outlines, removed scans) have then landed.
void runPendingMainThreadJobs();
