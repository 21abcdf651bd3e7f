// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <climits>

#include "common/archive_naming.h"

using halvex::MakeArchiveFileName;

TEST(MakeArchiveFileName, FirstArchiveIsUnnumbered) {
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", 1), "/backups/Job.TQBak");
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", 0), "/backups/Job.TQBak");
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", -1), "/backups/Job.TQBak");
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", INT_MIN), "/backups/Job.TQBak");
}

TEST(MakeArchiveFileName, LaterArchivesCarryTheirNumber) {
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", 2), "/backups/Job2.TQBak");
    EXPECT_EQ(MakeArchiveFileName("/backups/Job", 10), "/backups/Job10.TQBak");
    EXPECT_EQ(MakeArchiveFileName("Job", 65535), "Job65535.TQBak");
    EXPECT_EQ(MakeArchiveFileName("c:\\backups/Default", 3), "c:\\backups/Default3.TQBak");
    // A base longer than the old 260-byte buffers.
    std::string base(5000, 'b');
    EXPECT_EQ(MakeArchiveFileName(base, 12), base + "12.TQBak");
}
