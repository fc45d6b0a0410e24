#pragma once

#include "fuzz_support.h"

// A small project folder for the targets that read project and floor records: floors with scan
// folders, a floor folder no record names, the reserved folders and a scan folder loose in the
// project folder (as an export leaves them). Made anew for every input, since reading may move
// folders. Returns the project folder.
inline QString projectSkeleton()
{
    const QString project = fuzzsupport::freshScratch();
    for (const char* name : {"Ground/001", "Ground/_Map", "Ground/2 - Hall/assets", "Upper/7", "New/3", "_Export",
                             "_Assets", "_Snapshots"})
        fuzzsupport::folder(name);
    fuzzsupport::put("Kitchen#4/t.pic", "preview");
    fuzzsupport::put("_Assets/manual.pdf", "pdf");
    fuzzsupport::put("Upper/floor.json", R"({"extWallThickness": 250, "building": "Annex", "gradeHint": 1})");
    return project;
}
