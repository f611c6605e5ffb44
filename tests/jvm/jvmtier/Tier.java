package jvmtier;

import com.quenlark.foto.FotoChecks;
import com.quenlark.ui.awt.AwtUtilChecks;
import com.quenlark.util.FileSystemChecks;

import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;

import jvmhost.HostWindow;

/**
 * The Java tier's main class, run by tests/jvm/run-tier in a VM of its own
 * for each mode. Every check prints one line ("ok" or "FAIL", its name, what
 * was seen; "skip" and why, for one that cannot be made here); the last line
 * counts them, and the exit code is 1 when one failed.
 *
 *   checks       every native once, against the real partners, then three
 *                Java threads at once, then what the VM resolved
 *   example      the scan loop of docs/example as its main runs it
 *   run N        one whole VM run of variant N: how the application may
 *                load the library and end
 */
public final class Tier {
    public static final String WINDOW_CLASS = "com.quenlark.ui.Dovrik";
    public static final String WINDOW_TITLE = "quenLark";

    // The natives as the VM must find them in the library, one per line of
    // the exports (x86 adds a leading underscore and @N).
    private static final String[] NATIVES = {
        "com_quenlark_foto_TwainHandler_selectSource0", "com_quenlark_foto_TwainHandler_querySelectSource0",
        "com_quenlark_foto_TwainHandler_acquireImage0", "com_quenlark_foto_TwainHandler_queryImageFile0",
        "com_quenlark_foto_TwainHandler_getImageFile0", "com_quenlark_foto_Repository_mv0",
        "com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0", "com_quenlark_ui_awt_AwtUtil_openDefaultApp0",
        "com_quenlark_ui_awt_AwtUtil_sendFiles0", "com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0",
        "com_quenlark_util_FileSystem_getDriveType0", "com_quenlark_util_FileSystem_getDiskFreeSpace0",
        "com_quenlark_util_FileSystem_getMyDocumentFolder0",
    };

    private static int passed;
    private static int failed;
    private static final AtomicInteger finished = new AtomicInteger();

    private Tier() {}

    public static synchronized boolean check(String name, boolean ok, String seen) {
        System.out.println((ok ? "ok   " : "FAIL ") + name + (seen.length() == 0 ? "" : ": " + seen));
        if (ok) {
            passed++;
        } else {
            failed++;
        }
        return ok;
    }

    /** A check that cannot be made here, and why. */
    public static synchronized void skip(String name, String why) {
        System.out.println("skip " + name + ": " + why);
    }

    /** A -D property that run-tier sets; a run without it is a broken run. */
    public static String property(String name) {
        String value = System.getProperty(name);
        if (value == null) throw new IllegalStateException("-D" + name + " is not set");
        return value;
    }

    /** Work of the thread check that is done. */
    public static void finished() {
        finished.incrementAndGet();
    }

    public static int finishedCount() {
        return finished.get();
    }

    public static void sleep(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void write(String path, String text) {
        try {
            FileOutputStream out = new FileOutputStream(path);
            try {
                out.write(text.getBytes("UTF-8"));
            } finally {
                out.close();
            }
        } catch (IOException e) {
            check("write " + path, false, e.toString());
        }
    }

    public static String text(String path) {
        try {
            return new String(read(path), "UTF-8");
        } catch (IOException e) {
            return e.toString();
        }
    }

    /** The lines the recording mapi32.dll wrote to DOVRIKNA_MAPI_LOG in this run. */
    public static List<String> mailLog() {
        List<String> lines = new ArrayList<String>();
        String log = System.getenv("DOVRIKNA_MAPI_LOG");
        if (log == null) return lines;
        for (String line : text(log).split("\n")) if (line.length() > 0) lines.add(line);
        return lines;
    }

    public static byte[] read(String path) {
        File file = new File(path);
        byte[] bytes = new byte[(int) file.length()];
        try {
            FileInputStream in = new FileInputStream(file);
            try {
                int done = 0;
                for (int n; done < bytes.length && (n = in.read(bytes, done, bytes.length - done)) > 0;) done += n;
                return done == bytes.length ? bytes : new byte[0];
            } finally {
                in.close();
            }
        } catch (IOException e) {
            return new byte[0];
        }
    }

    /**
     * The largest and the mean absolute difference per channel (B, G, R)
     * between width x height pixels at `offset` in `got`, rows of `stride`
     * bytes bottom-up, and a top-down bgr24 reference: {worst, meanB, meanG, meanR}.
     */
    public static double[] difference(byte[] got, int offset, int stride, byte[] reference, int width, int height) {
        double[] result = new double[4];
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width * 3; ++x) {
                int ours = got[offset + row * stride + x] & 0xFF;
                int theirs = reference[(height - 1 - row) * width * 3 + x] & 0xFF;
                int d = Math.abs(ours - theirs);
                result[0] = Math.max(result[0], d);
                result[1 + x % 3] += d;
            }
        for (int c = 1; c < 4; ++c) result[c] /= (double) width * height;
        return result;
    }

    public static String describe(double[] difference) {
        return "largest " + (int) difference[0] + ", mean B/G/R " + round(difference[1]) + "/" + round(difference[2])
                + "/" + round(difference[3]);
    }

    private static String round(double value) {
        return Double.toString(Math.round(value * 100) / 100.0);
    }

    /** Runs `work` on threads of their own, all at once; false for one still running after `limitMs`. */
    public static boolean together(Runnable[] work, String[] names, long limitMs) throws InterruptedException {
        Thread[] threads = new Thread[work.length];
        for (int i = 0; i < work.length; ++i) threads[i] = new Thread(work[i], names[i]);
        for (Thread thread : threads) thread.start();
        long end = System.currentTimeMillis() + limitMs;
        boolean all = true;
        for (int i = 0; i < threads.length; ++i) {
            threads[i].join(Math.max(1, end - System.currentTimeMillis()));
            all &= check("thread " + names[i] + " ended", !threads[i].isAlive(), threads[i].isAlive()
                    ? "still running after " + limitMs + " ms" : "");
        }
        return all;
    }

    private static int openWindow() {
        int window = HostWindow.open(WINDOW_CLASS, WINDOW_TITLE);
        check("the application's main window", window != 0, "0x" + Integer.toHexString(window));
        return window;
    }

    public static void main(String[] args) throws Exception {
        String mode = args.length > 0 ? args[0] : "";
        if (mode.equals("checks")) {
            HostWindow.watch("dovrikna.dll");
            int window = openWindow();
            AwtUtilChecks.run(window);
            FileSystemChecks.run();
            FotoChecks.run(window);
            final String video = property("dovrikna.bin") + "mjpeg.avi";
            together(new Runnable[] {
                new Runnable() { public void run() { AwtUtilChecks.thumbnailOf(video, 240, 180); } },
                new Runnable() { public void run() { FotoChecks.scanOnThisThread(); } },
                new Runnable() { public void run() { FileSystemChecks.busy(); } },
            }, new String[] {"thumbnail", "scan", "files"}, 120000);
            expectLookups(HostWindow.lookups(), 4);
        } else if (mode.equals("example")) {
            openWindow();
            FotoChecks.runExample(args[1], args[2]);
        } else if (mode.equals("run")) {
            run(Integer.parseInt(args[1]));
        } else {
            check("mode", false, "unknown mode '" + mode + "'");
        }
        summary();
    }

    /**
     * Every native resolved, and each JNI_OnLoad call (this VM makes one per
     * class that loads the library) answered JNI_VERSION_1_2.
     */
    private static void expectLookups(String lookups, int classes) {
        List<String> missing = new ArrayList<String>();
        for (String name : NATIVES)
            if (!lookups.contains("resolved Java_" + name + "\n") && !lookups.contains("resolved _Java_" + name + "@"))
                missing.add(name);
        check("every native resolved", missing.isEmpty(), "missing " + missing);
        int calls = 0;
        boolean right = true;
        for (String line : lookups.split("\n"))
            if (line.startsWith("JNI_OnLoad call")) {
                ++calls;
                right &= line.endsWith("returned 0x10002");
            }
        check("JNI_OnLoad once per class that loads the library, each JNI_VERSION_1_2", calls == classes && right,
                calls + " calls" + (right ? "" : ": " + lookups.replace('\n', '|')));
    }

    /**
     * Whole VM runs, one variant each, of the ways the application may load
     * the library and end: short, so that twenty of them take little time.
     */
    private static void run(int variant) throws InterruptedException {
        switch (variant % 4) {
        case 0: // the window first, a cancelled selection, main returns
            openWindow();
            FileSystemChecks.quick();
            FotoChecks.cancelledSelection();
            break;
        case 1: // the library before the window: its window is then nobody's child
            FileSystemChecks.quick();
            openWindow();
            FotoChecks.cancelledSelection();
            summary();
            System.exit(0);
            break;
        case 2: { // three threads load it at once (three classes) and end before main calls
            final int window = openWindow();
            together(new Runnable[] {
                new Runnable() { public void run() { FileSystemChecks.quick(); } },
                new Runnable() { public void run() { FotoChecks.firstQuery(); } },
                new Runnable() { public void run() { AwtUtilChecks.quick(window); } },
            }, new String[] {"FileSystem", "TwainHandler", "AwtUtil"}, 20000);
            // The process's first thumbnails, four at once (a pool of four).
            final String bin = property("dovrikna.bin");
            together(new Runnable[] {
                new Runnable() { public void run() { AwtUtilChecks.thumbnailOf(bin + "clip.avi", 320, 240); } },
                new Runnable() { public void run() { AwtUtilChecks.thumbnailOf(bin + "h264.mp4", 318, 240); } },
                new Runnable() { public void run() { AwtUtilChecks.thumbnailOf(bin + "mjpeg.avi", 240, 180); } },
                new Runnable() { public void run() { AwtUtilChecks.thumbnailOf(bin + "h264-426x240.mp4", 426, 240); } },
            }, new String[] {"clip.avi", "h264.mp4", "mjpeg.avi", "h264-426x240.mp4"}, 40000);
            FotoChecks.cancelledSelection();
            break;
        }
        default: // the VM ends at once after the first native
            openWindow();
            FileSystemChecks.quick();
            summary();
            System.exit(0);
        }
    }

    public static void summary() {
        System.out.println("checks: " + passed + " passed, " + failed + " failed");
        System.out.flush();
        if (failed != 0) System.exit(1);
    }
}
