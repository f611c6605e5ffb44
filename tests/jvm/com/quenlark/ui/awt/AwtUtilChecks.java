package com.quenlark.ui.awt;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import jvmtier.Tier;

/**
 * AwtUtil with the real partners: the build's .dvkopen association (which
 * opens files with open_recorder.exe), the recording mapi32.dll beside the
 * VM, and clips that ffmpeg made together with its own decode of frame 0.
 */
public final class AwtUtilChecks {
    private AwtUtilChecks() {}

    public static void run(int window) {
        Tier.check("findDefaultAppWindow0(0) is the foreground main window", AwtUtil.findDefaultAppWindow0(0) == window,
                "0x" + Integer.toHexString(AwtUtil.findDefaultAppWindow0(0)));
        Tier.check("findDefaultAppWindow0 of the main window", AwtUtil.findDefaultAppWindow0(window) == 1, "");
        Tier.check("findDefaultAppWindow0 of no window", AwtUtil.findDefaultAppWindow0(0x7FFFFFF0) == 0, "");
        open();
        mail();
        String bin = Tier.property("dovrikna.bin");
        thumbnailOf(bin + "h264-854x480.mp4", 854, 480);
        // Cached now; the real array holds one row whatever the size says.
        byte[] row = new byte[854 * 3];
        for (int i = 0; i < row.length; ++i) row[i] = 0x5A;
        int result = AwtUtil.getVideoThumbnail0(bin + "h264-854x480.mp4", new int[] {854, 480}, row);
        boolean untouched = true;
        for (byte b : row) untouched &= b == 0x5A;
        Tier.check("getVideoThumbnail0 into an array shorter than its stated size", result == 854 && untouched,
                result + (untouched ? "" : ", written into"));
        int[] size = {-7, -7};
        Tier.check("getVideoThumbnail0 of a missing file", AwtUtil.getVideoThumbnail0(bin + "missing.mp4", size,
                new byte[30]) == -1, "");
        Tier.check("getVideoThumbnail0 of nulls and a short size", AwtUtil.getVideoThumbnail0(null, size, new byte[3]) == -1
                && AwtUtil.getVideoThumbnail0(bin + "clip.avi", null, new byte[3]) == -1
                && AwtUtil.getVideoThumbnail0(bin + "clip.avi", size, null) == -1
                && AwtUtil.getVideoThumbnail0(bin + "clip.avi", new int[1], new byte[3]) == -1, "");
    }

    public static void quick(int window) {
        Tier.check("findDefaultAppWindow0 of the main window", AwtUtil.findDefaultAppWindow0(window) == 1, "");
    }

    /** The example's thumbnail against ffmpeg's frame 0: within 3 per channel on the mean. */
    public static void thumbnailOf(String video, int width, int height) {
        try {
            String name = "thumbnail of " + new File(video).getName();
            int[] size = new int[2];
            byte[] pixels = DesktopExample.thumbnail(video, size);
            if (!Tier.check(name + ": size", pixels != null && size[0] == width && size[1] == height,
                    size[0] + "x" + size[1])) return;
            byte[] expected = Tier.read(video + ".bgr");
            if (!Tier.check(name + ": ffmpeg's frame", expected.length == width * height * 3, expected.length + " bytes"))
                return;
            double[] difference = Tier.difference(pixels, 0, width * 3, expected, width, height);
            Tier.check(name + ": pixels", difference[1] <= 3 && difference[2] <= 3 && difference[3] <= 3,
                    Tier.describe(difference));
        } finally {
            Tier.finished();
        }
    }

    /** openDefaultApp0 of a .dvkopen file: the recorder is started with its path, in our current folder. */
    private static void open() {
        String records = System.getenv("DOVRIKNA_RECORDER_DIR");
        String path = Tier.property("dovrikna.scratch") + "opened \u00e9t\u00e9.dvkopen";
        Tier.write(path, "");
        Tier.check("openDefaultApp0 of null", !AwtUtil.openDefaultApp0(null), "");
        Tier.check("openDefaultApp0", AwtUtil.openDefaultApp0(path), "");
        File record = null;
        for (int i = 0; i < 400 && record == null; ++i) {
            File[] found = new File(records).listFiles();
            for (int j = 0; found != null && j < found.length; ++j)
                if (found[j].getName().endsWith(".txt")) record = found[j];
            if (record == null) Tier.sleep(50);
        }
        if (!Tier.check("the associated program ran", record != null, record != null ? record.getName()
                : "no record in " + records)) return;
        String[] lines = Tier.text(record.getPath()).split("\n");
        String here = Tier.property("dovrikna.app");
        Tier.check("the associated program's argument", lines.length == 2 && lines[1].equals(path),
                Arrays.toString(lines));
        Tier.check("the associated program's current folder", lines.length > 0
                && trimmed(lines[0]).equalsIgnoreCase(trimmed(here)), lines.length > 0 ? lines[0] : "");
        record.delete();
    }

    /** The value of `name` in a line of the recording client ("name=value ..."). */
    private static String field(String line, String name) {
        int start = line.indexOf(" " + name);
        if (start < 0) return "";
        start += name.length() + 1;
        int end = line.charAt(start) == '"' ? line.indexOf('"', start + 1) + 1 : line.indexOf(' ', start);
        return line.substring(start, end <= 0 ? line.length() : end);
    }

    private static String trimmed(String folder) {
        return folder.endsWith("\\") ? folder.substring(0, folder.length() - 1) : folder;
    }

    /** The example's mail of two files to two recipients, as the recording client saw it. */
    private static void mail() {
        String scratch = Tier.property("dovrikna.scratch");
        List<String> files = new ArrayList<String>();
        files.add(scratch + "one.jpg");
        files.add(scratch + "two.jpg");
        for (String file : files) Tier.write(file, "photo");
        DesktopExample.mail(files, "a@example.org;b@example.org");
        // What the client was given: each recipient item as the name and the
        // address of one "To" recipient (class 1), each file by its path.
        List<String> lines = Tier.mailLog();
        StringBuilder seen = new StringBuilder();
        boolean sent = false;
        for (String line : lines) {
            sent |= line.startsWith("MAPISendMail ");
            if (line.startsWith(" recipient "))
                seen.append(field(line, "class=")).append(' ').append(field(line, "name=")).append(' ')
                        .append(field(line, "address=")).append('|');
            if (line.startsWith(" file ")) seen.append(field(line, "path=")).append('|');
        }
        String expected = "1 \"a@example.org\" \"a@example.org\"|1 \"b@example.org\" \"b@example.org\"|\""
                + files.get(0) + "\"|\"" + files.get(1) + "\"|";
        Tier.check("sendFiles0 reached MAPISendMail", sent, sent ? "" : lines.toString());
        Tier.check("sendFiles0's recipients and attachments", seen.toString().equals(expected), seen.toString());
        Tier.check("sendFiles0 of nulls", AwtUtil.sendFiles0(';', null, null) == 0, "");
        for (String file : files) new File(file).delete();
    }
}
