#include <gtest/gtest.h>

#include "filesystem/drive_kind.h"

namespace {

TEST(DriveKind, EveryPlatformAnswerMapsToItsKind)
{
    struct Row {
        unsigned driveType;
        int kind;
    };
    // GetDriveTypeA: UNKNOWN, NO_ROOT_DIR, REMOVABLE, FIXED, REMOTE, CDROM,
    // RAMDISK, then values no platform gives today.
    const Row rows[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {7, 0}, {0xFFFFFFFFu, 0}};
    for (const Row& row : rows)
        EXPECT_EQ(row.kind, dovrikna::driveKindOf(row.driveType)) << "drive type " << row.driveType;
}

} // namespace
