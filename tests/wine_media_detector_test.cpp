// getVideoThumbnail0 through Wine's own media detector (our stand-in not
// registered) with a real AVI file made by ffmpeg at build time.
#include <windows.h>

#include <string>

#include "desktop/media_detector.h"
#include "library_test.h"
#include "media_det_registration.h"

namespace {

class WineMediaDetTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        const std::wstring server = MediaDetRegistration::platformServer();
        ASSERT_NE(std::wstring::npos, server.find(L"qedit.dll")) << "CLSID_MediaDet is not Wine's own";
        char exe[MAX_PATH];
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        clip_ = exe;
        clip_ = clip_.substr(0, clip_.rfind('\\')) + "\\clip.avi";
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(clip_.c_str())) << clip_ << " (made by ffmpeg)";
    }

    std::string clip_;
};

TEST_F(WineMediaDetTest, WinesDetectorKnowsTheClipButGrabsNoFrameSoMediaFoundationGivesIt)
{
    // What the platform answers, asked directly.
    dovrikna::IMediaDet* detector = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(dovrikna::kClsidMediaDet, nullptr, CLSCTX_INPROC_SERVER,
                                     dovrikna::kIidMediaDet, reinterpret_cast<void**>(&detector)));
    EXPECT_EQ(E_NOTIMPL, detector->GetBitmapBits(0.0, nullptr, nullptr, 0, 0)) << "asked before it has a file";
    const std::wstring wide(clip_.begin(), clip_.end());
    BSTR name = SysAllocString(wide.c_str());
    EXPECT_EQ(S_OK, detector->put_Filename(name));
    SysFreeString(name);
    LONG streams = -1;
    EXPECT_EQ(S_OK, detector->get_OutputStreams(&streams));
    EXPECT_EQ(1, streams);
    detector->put_CurrentStream(0);
    GUID type = GUID_NULL;
    EXPECT_EQ(S_OK, detector->get_StreamType(&type));
    EXPECT_TRUE(IsEqualGUID(type, dovrikna::kMediaTypeVideo));
    AM_MEDIA_TYPE media;
    ZeroMemory(&media, sizeof media);
    EXPECT_EQ(S_OK, detector->get_StreamMediaType(&media));
    EXPECT_TRUE(IsEqualGUID(media.formattype, dovrikna::kFormatVideoInfo));
    if (media.pbFormat && media.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(media.pbFormat);
        EXPECT_EQ(320, format->bmiHeader.biWidth);
        EXPECT_EQ(240, format->bmiHeader.biHeight);
    }
    CoTaskMemFree(media.pbFormat);
    if (media.pUnk) media.pUnk->Release();
    LONG needed = -7;
    EXPECT_EQ(E_NOTIMPL, detector->GetBitmapBits(0.0, &needed, nullptr, 320, 240));
    detector->Release();

    // The library takes the same steps, fails at the size query and takes
    // the frame from Media Foundation (its pixels: media_foundation_test).
    jintArray size = jvm.newIntArray({320, 240});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(320 * 240 * 3, 0x5A));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, jvm.newString(clip_), size,
                                                                   pixels));
    EXPECT_EQ((std::vector<jint>{320, 240}), jvm.ints(size));
    EXPECT_NE(std::vector<jbyte>(320 * 240 * 3, 0x5A), jvm.bytes(pixels));
}

TEST_F(WineMediaDetTest, AFileThatIsNoVideoGivesMinusOne)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH); // the test program itself
    for (const std::string& path : {std::string(exe), clip_ + ".missing", std::string()}) {
        jintArray size = jvm.newIntArray({320, 240});
        jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(16, 0x5A));
        EXPECT_EQ(-1, lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, jvm.newString(path), size,
                                                                        pixels))
            << path;
        EXPECT_EQ((std::vector<jint>{320, 240}), jvm.ints(size));
        EXPECT_EQ(std::vector<jbyte>(16, 0x5A), jvm.bytes(pixels));
    }
}

} // namespace
