#include "export/archive_entry_queue.h"

#include <gtest/gtest.h>

#include <sstream>

// Order, skipped duplicates, a missing source, a full disk and a queue dropped on Cancel are shown
// through the export (ExportEndToEnd, ArchiveExport); here, that a duplicate keeps its own type.
TEST(ArchiveEntryQueue, TheWritersFailureReachesTheCallerWithItsTypeAndStopsTheQueue)
{
    std::ostringstream out;
    ArchiveEntryQueue queue(&out);
    queue.putData("p/a", "1");
    EXPECT_THROW({ queue.putData("p/a", "2"); queue.finish(); }, TarDuplicateException); // refused at either call
    EXPECT_THROW(queue.putData("p/b", "3"), TarDuplicateException) << "nothing is taken after a failure";
}
