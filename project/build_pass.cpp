#include "project/property.h"

#include "pano/panorama.h"
#include "project/building.h"
#include "project/floor.h"

#include <stdexcept>

// Interim: one scan at a time on the GUI thread, until the shared parallel scan pass is on main.
void Property::quorilPanos()
{
    QString failures;
    for (Building* building : std::as_const(m_buildings))
        for (Floor* floor : building->floors()) {
            if (floor->isPicturesFloor())
                continue;
            for (Panorama* pano : floor->panos()) {
                if (!isBuildablePanoType(pano->panoType()))
                    continue;
                try {
                    pano->buildPano();
                } catch (const std::exception& e) {
                    failures += tr("Could not process pano ") + pano->folder() + ": " + QString::fromUtf8(e.what())
                        + "\n\n";
                }
            }
        }
    if (!failures.isEmpty())
        throw std::runtime_error((tr("Failed to quoril some of the panos. Fix or remove the bad ones, or re-import "
                                     "the whole property.\n\n")
                                  + failures)
                                     .toStdString());
}
