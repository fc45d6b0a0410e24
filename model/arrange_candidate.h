#pragma once

#include <QPointF>

// One candidate placement found by the scan arrangement: the selected scans are turned by
// `rotation` radians about `pivot` and then moved by `translation`; lower `error` matches better.
struct ArrangeCandidate {
    QPointF translation;
    double rotation = 0;
    double error = 0;
    QPointF pivot;
};
