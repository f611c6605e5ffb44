package com.quenlark.util;

import java.io.File;

import jvmtier.Tier;

/** FileSystem on the drives of the build's prefix (tests/prepare-prefix gives them their kinds). */
public final class FileSystemChecks {
    private FileSystemChecks() {}

    public static void run() {
        String[][] kinds = {{"C:\\", "2"}, {"D:\\", "4"}, {"N:\\", "3"}, {"F:\\", "1"}, {"R:\\", "5"}, {"Q:\\", "0"}};
        StringBuilder seen = new StringBuilder();
        boolean all = true;
        for (String[] kind : kinds) {
            int got = FileSystem.getDriveType0(kind[0]);
            seen.append(kind[0]).append(got).append(' ');
            all &= got == Integer.parseInt(kind[1]);
        }
        Tier.check("getDriveType0 of C: D: N: F: R: Q: is 2 4 3 1 5 0", all, seen.toString().trim());
        Tier.check("getDriveType0 of null", FileSystem.getDriveType0(null) == 0, "");

        long[] free = {-7, -7};
        boolean answered = FileSystem.getDiskFreeSpace0("C:\\users", free);
        long df = Long.parseLong(Tier.property("dovrikna.free"));
        // Within 5% of df's figure, taken just before the VM started: other
        // work on the machine writes and deletes meanwhile (1.5 GB once).
        Tier.check("getDiskFreeSpace0 of C:\\users against df", answered && free[0] > 0 && free[0] <= free[1]
                && Math.abs(free[0] - df) <= df / 20, free[0] + " and " + free[1] + " bytes, df " + df);
        long[] single = {-7};
        Tier.check("getDiskFreeSpace0 with a short array and with null", !FileSystem.getDiskFreeSpace0("C:\\", single)
                && single[0] == -7 && !FileSystem.getDiskFreeSpace0("C:\\", null)
                && !FileSystem.getDiskFreeSpace0(null, free), "");

        String documents = FileSystem.getMyDocumentFolder0();
        Tier.check("getMyDocumentFolder0 is an existing folder", documents != null && new File(documents).isDirectory(),
                "" + documents);
    }

    /** The file natives, round after round, until the thread check's other two threads are done. */
    public static void busy() {
        int rounds = 0;
        boolean right = true;
        long[] free = new long[2];
        long end = System.currentTimeMillis() + 120000;
        do {
            right &= FileSystem.getDriveType0("C:\\") == 2;
            right &= FileSystem.getDiskFreeSpace0("C:\\", free) && free[0] > 0;
            String documents = FileSystem.getMyDocumentFolder0();
            right &= documents != null;
            ++rounds;
        } while (Tier.finishedCount() < 2 && System.currentTimeMillis() < end);
        Tier.check("files thread: every answer right", right, rounds + " rounds");
    }

    /** A few answers that need no partner: the short VM runs' use of the library. */
    public static void quick() {
        Tier.check("getDriveType0 of C:", FileSystem.getDriveType0("C:\\") == 2, "");
        Tier.check("getMyDocumentFolder0", FileSystem.getMyDocumentFolder0() != null, "");
    }
}
