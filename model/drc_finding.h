#pragma once

#include <QPainterPath>
#include <QString>

class Itemizeable;

// One design-rule or export-check finding.
struct DrcFinding {
    Itemizeable* subject = nullptr; // the tree entry concerned, not owned; may be null
    QString subjectName;            // the subject's display name at the time of the check
    QString message;                // may hold a rich-text link
    QPainterPath highlight;         // scene coordinates of the subject floor; empty when nothing to point at
    int code = 1;                   // 1: may be ignored; 0: must be fixed before the export
};
