package com.quenlark.foto;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

import jvmhost.HostWindow;
import jvmtier.Tier;

/**
 * TwainHandler against Wine's own source manager and its gphoto2 source on
 * the build's directory camera (four photos, 160 x 120), and Repository.mv0.
 */
public final class FotoChecks {
    private static final int PENDING = 0, IDLE = 1, SIGNALLED = 2, FINISHED = 3;
    private static final int PHOTOS = 4, WIDTH = 160, HEIGHT = 120;
    // Wine's gphoto2 source as the source manager lists it (libgphoto2's
    // name of the directory camera).
    static final String CAMERA = "Mass Storage Camera";

    private FotoChecks() {}

    /**
     * False, with a line that says why, where the camera is not mounted:
     * libgphoto2 lists only mount points, and wine-run-camera needs root to
     * make the photo folder one (as the C++ camera tests, the scans are then
     * left out).
     */
    private static boolean cameraMounted(String what) {
        String camera = System.getenv("DOVRIKNA_CAMERA");
        if ("mounted".equals(camera)) return true;
        Tier.skip(what, "the camera folder is not mounted (" + (camera == null ? "not run through wine-run-camera"
                : camera) + "): mounting it in a private namespace (unshare -m, mount --bind) needs root");
        return false;
    }

    public static void run(int window) throws InterruptedException {
        Tier.check("querySelectSource0 before any request", TwainHandler.querySelectSource0() == PENDING,
                "" + TwainHandler.querySelectSource0());
        int[] junk = {-7};
        Tier.check("getImageFile0 out of turn", TwainHandler.getImageFile0(junk) == null && junk[0] == -7,
                "flag " + junk[0]);
        Tier.check("getImageFile0 of null and of an empty array",
                TwainHandler.getImageFile0(null) == null && TwainHandler.getImageFile0(new int[0]) == null, "");
        Tier.check("the library's window is a child of the main window", HostWindow.children() > 0,
                HostWindow.children() + " children");
        moves();

        if (!cameraMounted("the scan")) {
            cancelledSelection();
            return;
        }
        String listed = answerWhileSelecting(CAMERA);
        Tier.check("selection of " + CAMERA, listed != null && listed.contains(CAMERA), "listed: "
                + (listed == null ? "no dialog" : listed.replace('\n', '|')));
        final List<String> pages = new ArrayList<String>();
        final boolean[] returned = {false};
        Thread scan = new Thread("example's acquire") {
            public void run() {
                try {
                    pages.addAll(ScanExample.acquire());
                    returned[0] = true;
                } catch (InterruptedException e) {
                    // not returned: the check below fails
                }
            }
        };
        scan.start();
        scan.join(60000);
        if (!Tier.check("ScanExample.acquire on a thread of its own returned", !scan.isAlive() && returned[0], ""))
            return;
        Tier.check("pages", pages.size() == PHOTOS, pages.toString());
        for (int i = 0; i < pages.size() && i < PHOTOS; ++i) expectPhoto(pages.get(i), i);
        Tier.check("after FINISHED the status reads IDLE", TwainHandler.queryImageFile0() == IDLE, "");
        for (String page : pages) new File(page).delete();
    }

    /** Selects through the example while the user answers the dialog; the entries the dialog listed. */
    private static String answerWhileSelecting(final String entry) throws InterruptedException {
        final String[] listed = new String[1];
        Thread user = new Thread("user") {
            public void run() {
                listed[0] = HostWindow.answerDialog(entry, 20000);
            }
        };
        user.start();
        boolean chosen = ScanExample.selectSource();
        user.join(30000);
        Tier.check("ScanExample.selectSource " + (entry == null ? "cancelled" : "chose"), chosen == (entry != null),
                "" + chosen);
        return listed[0];
    }

    /** The first request of a VM run: nothing asked yet. */
    public static void firstQuery() {
        Tier.check("querySelectSource0 before any request", TwainHandler.querySelectSource0() == PENDING, "");
    }

    /** Selection with Cancel: SIGNALLED, the status word read by querySelectSource0. */
    public static void cancelledSelection() throws InterruptedException {
        answerWhileSelecting(null);
        Tier.check("querySelectSource0 after a cancel", TwainHandler.querySelectSource0() == SIGNALLED, "");
    }

    /** A page: kel<N>.bmp, a 24-bit bottom-up BMP of the photo's pixels as ffmpeg decodes them, within 3. */
    private static void expectPhoto(String path, int photo) {
        String name = "page " + (photo + 1);
        Tier.check(name + " name", new File(path).getName().matches("kel[0-9]+\\.bmp"), path);
        byte[] bmp = Tier.read(path);
        byte[] expected = Tier.read(Tier.property("dovrikna.bin") + "..\\camera-decoded\\photo" + (photo + 1) + ".bgr");
        int stride = (WIDTH * 3 + 3) / 4 * 4;
        if (!Tier.check(name + " file", expected.length == WIDTH * HEIGHT * 3 && bmp.length == 54 + stride * HEIGHT
                && bmp[0] == 'B' && bmp[1] == 'M', bmp.length + " bytes, reference " + expected.length)) return;
        double[] difference = Tier.difference(bmp, 54, stride, expected, WIDTH, HEIGHT);
        Tier.check(name + " pixels", difference[0] <= 3, Tier.describe(difference));
    }

    /** The raw loop on the calling thread, each step checked: the thread check's scan. */
    public static void scanOnThisThread() {
        try {
            // Without the camera the source finds none: FINISHED, no page.
            int photos = cameraMounted("the scan thread's pages") ? PHOTOS : 0;
            TwainHandler.acquireImage0();
            long end = System.currentTimeMillis() + 60000;
            int taken = 0;
            int status;
            while ((status = TwainHandler.queryImageFile0()) != FINISHED && System.currentTimeMillis() < end) {
                if (status == SIGNALLED) {
                    int[] flag = {-7};
                    String page = TwainHandler.getImageFile0(flag);
                    if (Tier.check("scan thread: page " + (taken + 1) + " in the temp folder", page != null && flag[0] == 1,
                            page + ", flag " + flag[0])) {
                        expectPhoto(page, taken);
                        new File(page).delete();
                    }
                    ++taken;
                } else if (status != PENDING && status != IDLE) {
                    Tier.check("scan thread: status", false, "" + status);
                }
            }
            Tier.check("scan thread: FINISHED after every page", status == FINISHED && taken == photos,
                    "status " + status + ", " + taken + " pages");
        } finally {
            Tier.finished();
        }
    }

    /** mv0: a move, a move onto an existing file, null; names in and outside ASCII. */
    private static void moves() {
        String scratch = Tier.property("dovrikna.scratch");
        String[] names = {"plain.txt", "\u0141\u00f3d\u017a \u00fc.txt"};
        for (String name : names) {
            File from = new File(scratch + name), to = new File(scratch + "moved " + name);
            Tier.write(from.getPath(), "from " + name);
            boolean moved = Repository.mv0(from.getPath(), to.getPath());
            Tier.check("mv0 " + name, moved && !from.exists() && Tier.text(to.getPath()).equals("from " + name),
                    moved + ", source " + (from.exists() ? "still there" : "gone"));
            Tier.write(from.getPath(), "second");
            moved = Repository.mv0(from.getPath(), to.getPath());
            Tier.check("mv0 " + name + " onto an existing file", !moved && Tier.text(from.getPath()).equals("second")
                    && Tier.text(to.getPath()).equals("from " + name), "" + moved);
            from.delete();
            to.delete();
        }
        Tier.check("mv0 of null and of a name holding U+0000", !Repository.mv0(null, scratch + "x")
                && !Repository.mv0(scratch + "x", null) && !Repository.mv0(scratch + "x\u0000y", scratch + "z"), "");
    }

    /** The example as a program: its main, with the user choosing the camera. */
    public static void runExample(String video, String recipient) throws Exception {
        if (!cameraMounted("the example")) return;
        final String[] listed = new String[1];
        Thread user = new Thread("user") {
            public void run() {
                listed[0] = HostWindow.answerDialog(CAMERA, 20000);
            }
        };
        user.start();
        ScanExample.main(new String[] {video, recipient});
        user.join(30000);
        Tier.check("the example's selection dialog", listed[0] != null, "");
        // What it mailed: the four pages, each the photo it should be.
        List<String> pages = new ArrayList<String>();
        for (String line : Tier.mailLog()) {
            int path = line.indexOf(" path=\"");
            if (line.startsWith(" file ") && path > 0) pages.add(line.substring(path + 7, line.indexOf('"', path + 7)));
        }
        Tier.check("the example mailed its pages", pages.size() == PHOTOS, pages.toString());
        for (int i = 0; i < pages.size() && i < PHOTOS; ++i) expectPhoto(pages.get(i), i);
        for (String page : pages) new File(page).delete();
    }
}
