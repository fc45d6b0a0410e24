#include "model/panorama.h"


#include <QDomDocument>
#include <QDomElement>

QDomElement Panorama::svgElement(QDomDocument& document)
{
    QDomElement group = document.createElement(QStringLiteral("g"));
    group.setAttribute(QStringLiteral("id"), "scan" + QString::number(uniqueId()));
    group.setAttribute(QStringLiteral("transform"),
                       "translate(" + QString::number(pos().x(), 'f', 1) + ",  " + QString::number(pos().y(), 'f', 1)
                           + ") rotate(" + QString::number(rotation(), 'f', 2) + ") ");
    QString d;
    for (const QPoint& point : m_outline)
        d += "M" + QString::number(point.x() - 3) + " " + QString::number(point.y() - 3) + "v6h6v-6z";
    QDomElement path = document.createElement(QStringLiteral("path"));
    path.setAttribute(QStringLiteral("class"), QStringLiteral("point"));
    path.setAttribute(QStringLiteral("d"), d);
    group.appendChild(path);
    return group;
}
