package com.quenlark.foto;

/** The album's file store. */
public final class Repository {
    static { System.loadLibrary("dovrikna"); }

    private Repository() {}

    static native boolean mv0(String source, String destination);
}
