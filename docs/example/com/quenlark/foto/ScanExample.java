package com.quenlark.foto;

import com.quenlark.ui.awt.DesktopExample;

import java.util.ArrayList;
import java.util.List;

/** Scanning as the application does it: choose a source, then take each page as it comes. */
public final class ScanExample {
    static final int PENDING = 0, IDLE = 1, SIGNALLED = 2, FINISHED = 3;

    private ScanExample() {}

    /** Shows the source manager's dialog; true when the user chose a source. */
    public static boolean selectSource() throws InterruptedException {
        TwainHandler.selectSource0();
        int status;
        while ((status = TwainHandler.querySelectSource0()) == PENDING) {
            Thread.sleep(20);
        }
        return status == IDLE;
    }

    /** Scans; the pages' files, each taken as soon as it is written. */
    public static List<String> acquire() throws InterruptedException {
        List<String> pages = new ArrayList<String>();
        TwainHandler.acquireImage0();
        for (;;) {
            int status = TwainHandler.queryImageFile0();
            if (status == FINISHED) {
                return pages; // done, cancelled or failed: the pages so far
            } else if (status == SIGNALLED) {
                int[] temporary = new int[1];
                String page = TwainHandler.getImageFile0(temporary);
                if (page != null) {
                    pages.add(page); // temporary[0] == 1: the file is ours to delete
                }
            } else {
                Thread.sleep(20); // PENDING or IDLE: nothing new yet
            }
        }
    }

    /** Scans, then shows a video's first frame and mails the pages: VIDEO RECIPIENT. */
    public static void main(String[] args) throws InterruptedException {
        if (!selectSource()) {
            System.out.println("no source chosen");
            return;
        }
        List<String> pages = acquire();
        for (String page : pages) {
            System.out.println("page " + page);
        }
        int[] size = new int[2];
        byte[] frame = DesktopExample.thumbnail(args[0], size);
        System.out.println(frame == null ? "no frame" : "frame " + size[0] + "x" + size[1]);
        DesktopExample.mail(pages, args[1]);
        System.out.println("mailed " + pages.size() + " pages to " + args[1]);
    }
}
