package com.quenlark.util;

/** Drive and folder queries. */
public final class FileSystem {
    static { System.loadLibrary("dovrikna"); }

    private FileSystem() {}

    static native int getDriveType0(String root);
    static native boolean getDiskFreeSpace0(String directory, long[] freeSpace);
    static native String getMyDocumentFolder0();
}
