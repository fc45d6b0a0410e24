#include "support/one_lens_project.h"

#include "support/project_generator.h"
#include "support/system_cfg_fixture.h"

namespace testsupport {

QJsonObject makeOneLensProject(const QString& folder, const QString& model)
{
    const QJsonObject description =
        makeProject(folder, {"--floors", "2", "--scans-per-floor", "2", "--user-scans", "1", "--lens-height", "64",
                             "--no-missing-main-image", "--no-pictures", "--variant", "project-file"});
    makeSystemCfg(folder + "/system.cfg", {"--model", model});
    return description;
}

} // namespace testsupport
