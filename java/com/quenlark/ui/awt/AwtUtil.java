package com.quenlark.ui.awt;

/** Desktop services the AWT lacks. */
public final class AwtUtil {
    static { System.loadLibrary("dovrikna"); }

    private AwtUtil() {}

    static native int findDefaultAppWindow0(int window);
    static native boolean openDefaultApp0(String path);
    static native int sendFiles0(char separator, String attachments, String recipients);
    static native int getVideoThumbnail0(String path, int[] size, byte[] pixels);
}
