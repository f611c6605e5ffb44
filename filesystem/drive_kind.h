// The drive classification handed to Java, from GetDriveTypeA's answer.
#ifndef DOVRIKNA_FILESYSTEM_DRIVE_KIND_H
#define DOVRIKNA_FILESYSTEM_DRIVE_KIND_H

namespace dovrikna {

enum DriveKind : int {
    DRIVE_KIND_UNKNOWN = 0,
    DRIVE_KIND_REMOVABLE = 1,
    DRIVE_KIND_FIXED = 2,
    DRIVE_KIND_NETWORK = 3,
    DRIVE_KIND_CDROM = 4,
    DRIVE_KIND_RAMDISK = 5,
};

// driveType is a GetDriveTypeA result (DRIVE_UNKNOWN 0 to DRIVE_RAMDISK 6).
DriveKind driveKindOf(unsigned driveType);

} // namespace dovrikna

#endif
