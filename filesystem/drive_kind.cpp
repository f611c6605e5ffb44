#include "filesystem/drive_kind.h"

namespace dovrikna {

DriveKind driveKindOf(unsigned driveType)
{
    switch (driveType) {
    case 2: return DRIVE_KIND_REMOVABLE; // DRIVE_REMOVABLE
    case 3: return DRIVE_KIND_FIXED;     // DRIVE_FIXED
    case 4: return DRIVE_KIND_NETWORK;   // DRIVE_REMOTE
    case 5: return DRIVE_KIND_CDROM;     // DRIVE_CDROM
    case 6: return DRIVE_KIND_RAMDISK;   // DRIVE_RAMDISK
    default: return DRIVE_KIND_UNKNOWN;  // DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR, anything new
    }
}

} // namespace dovrikna
