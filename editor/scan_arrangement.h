#pragma once

#include "model/arrange_candidate.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QVariantList>

class Floor;
class Panorama;
class QUndoCommand;
class QWidget;

// "Arrange selected scans": the selected scans of a floor are placed against the floor's other
// scans by matching their lidar outlines, and the best placement found is applied as one undo
// step. The alternatives stay in the floor's arrangement results; asking again with the same
// scans selected and nothing edited since steps to the next one, round and round.
class ScanArrangement {
    Q_DECLARE_TR_FUNCTIONS(ScanArrangement)
public:
    // A placement whose outlines lie farther than this (mean, mm) from the other scans' is shown
    // to the person before anything moves.
    static constexpr double kTrustedError = 60.0;

    // Refuses, and says why, for a camera the arrangement does not support, for no selected
    // scan, for selected scans without an outline and for a floor with nothing to match them
    // against. Questions and messages go through the question seam, the search's progress
    // through the progress seam.
    void arrangeSelected(Floor* floor, QWidget* parent);

private:
    // The selected scans of the last search and where they stood before it.
    struct Session {
        QPointer<Floor> floor;
        QList<Panorama*> scans;
        QList<QVariantList> before;
        // The floor's undo history as the last search or step left it.
        int undoIndex = -1;
        int undoCount = -1;
        const QUndoCommand* lastCommand = nullptr;
    };

    bool continuesSession(Floor* floor, const QList<Panorama*>& scans) const;
    // False when cancelled.
    bool search(Floor* floor, const QList<Panorama*>& scans, QWidget* parent);
    void apply(const ArrangeCandidate& candidate);
    void remember();

    Session m_session;
};
