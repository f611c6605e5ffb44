// The Java side of scanning and thumbnails as the instruments (bench/, soak/)
// play it through the natives of the loaded library, without a test
// framework: the polls, the hand-overs, and the scripted stand-ins behind them.
#ifndef DOVRIKNA_TESTS_JAVA_SCANNING_H
#define DOVRIKNA_TESTS_JAVA_SCANNING_H

#include <windows.h>

#include <string>

#include "library_under_test.h"
#include "media_det_registration.h"
#include "standins/fake_jvm.h"
#include "standins/media_detector_standin.h"
#include "standins/twain_standin.h"
#include "twain_test_support.h"

namespace instrument {

using namespace dovrikna;

enum : jint { kPending = 0, kIdle = 1, kSignalled = 2, kFinished = 3 };

// A transfer of the stand-in source that writes its tiny file where asked.
inline standin::Transfer page(TW_UINT16 rc, TW_UINT16 countAfter)
{
    return {TWRC_SUCCESS, rc, TWRC_SUCCESS, countAfter, rc == TWRC_XFERDONE ? 1 : 0, "", 0};
}

struct Scanning {
    Scanning(LibraryUnderTest& lib, fakejvm::FakeJvm& jvm) : lib(lib), jvm(jvm) {}
    ~Scanning()
    {
        if (dsm.module) FreeLibrary(dsm.module);
    }
    Scanning(const Scanning&) = delete;
    Scanning& operator=(const Scanning&) = delete;

    bool loadManager() { return dsm.load() && (script = dsm.script()) != nullptr; }

    // Scripts the next acquisition's transfers.
    void setTransfers(const standin::Transfer* transfers, int count)
    {
        script->transferCount = count;
        for (int i = 0; i < count; ++i) script->transfers[i] = transfers[i];
    }

    // acquireImage0, then the user presses the source's scan button.
    bool acquireAndScan()
    {
        lib.com_quenlark_foto_TwainHandler_acquireImage0(jvm.env(), nullptr);
        if (!twaintest::waitUntil([&] { return dsm.sourceWindow() != nullptr; })) return false;
        PostMessageA(dsm.sourceWindow(), standin::kScanButton, 0, 0);
        return true;
    }

    // queryImageFile0 until it tells something new (or `ms` pass: kPending).
    jint poll(DWORD ms = 10000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            const jint status = lib.com_quenlark_foto_TwainHandler_queryImageFile0(jvm.env(), nullptr);
            if (status != kPending && status != kIdle) return status;
            if (GetTickCount() - start > ms) return kPending;
            SwitchToThread();
        }
    }

    // getImageFile0: the path, which also asks the worker for the next one.
    std::string takePath()
    {
        if (!flags) flags = jvm.newIntArray({-7});
        jstring path = lib.com_quenlark_foto_TwainHandler_getImageFile0(jvm.env(), nullptr, flags);
        return path ? jvm.bytesOf(path) : std::string();
    }

    // Every path of the acquisition, each file deleted once taken (as the
    // Java side moves it away); the final status in *end.
    int takeAll(jint* end)
    {
        int taken = 0;
        for (;;) {
            const jint status = poll();
            if (status != kSignalled) {
                *end = status;
                return taken;
            }
            DeleteFileA(takePath().c_str());
            ++taken;
        }
    }

    LibraryUnderTest& lib;
    fakejvm::FakeJvm& jvm;
    standin::TwainStandin dsm;
    standin::Script* script = nullptr;
    jintArray flags = nullptr;
};

// Our scripted media detector under CLSID_MediaDet while the object lives.
struct StandinDetector {
    StandinDetector()
    {
        standinReset();
        installed = MediaDetRegistration::install(
            MediaDetRegistration::moduleFile(GetModuleHandleA("media_detector_standin.dll")));
    }
    ~StandinDetector()
    {
        if (installed) MediaDetRegistration::restore();
    }
    bool installed = false;
};

} // namespace instrument

#endif
