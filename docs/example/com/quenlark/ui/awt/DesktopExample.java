package com.quenlark.ui.awt;

import java.util.List;

/** A video's thumbnail and a mail with attachments, as the application asks for them. */
public final class DesktopExample {
    private DesktopExample() {}

    /**
     * The video's first frame, 3 bytes a pixel (B, G, R), the bottom row
     * first; size receives its width and height. Null when there is none.
     */
    public static byte[] thumbnail(String video, int[] size) {
        size[0] = 160;
        size[1] = 120;
        byte[] pixels = new byte[size[0] * size[1] * 3];
        int result = AwtUtil.getVideoThumbnail0(video, size, pixels);
        if (result > 0) { // too big for the guess: size holds the frame's, ask again
            pixels = new byte[size[0] * size[1] * 3];
            result = AwtUtil.getVideoThumbnail0(video, size, pixels);
        }
        return result == 0 ? pixels : null;
    }

    /** Opens the mail client's compose window; blocks until the user is done with it. */
    public static void mail(List<String> attachments, String recipient) {
        StringBuilder files = new StringBuilder();
        for (String file : attachments) {
            files.append(files.length() == 0 ? "" : ";").append(file);
        }
        AwtUtil.sendFiles0(';', files.toString(), recipient);
    }
}
