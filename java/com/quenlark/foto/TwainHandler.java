package com.quenlark.foto;

/** Scanning through TWAIN; the work happens on the native library's own worker thread. */
public final class TwainHandler {
    static { System.loadLibrary("dovrikna"); }

    private TwainHandler() {}

    static native void selectSource0();
    static native int querySelectSource0();
    static native void acquireImage0();
    static native int queryImageFile0();
    static native String getImageFile0(int[] temporaryFileFlag);
}
