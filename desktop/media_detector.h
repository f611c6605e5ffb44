// The DirectShow media detector (COM class MediaDet, interface IMediaDet) as
// its public documentation describes it. Declared here because current
// Windows SDKs no longer ship qedit.h; the method order is the interface's
// published vtable order and must not change.
#ifndef DOVRIKNA_DESKTOP_MEDIA_DETECTOR_H
#define DOVRIKNA_DESKTOP_MEDIA_DETECTOR_H

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <strmif.h>
#include <amvideo.h>

namespace dovrikna {

// {65BD0711-24D2-4FF7-9324-ED2E5D3ABAFA}
constexpr GUID kClsidMediaDet = {0x65bd0711, 0x24d2, 0x4ff7, {0x93, 0x24, 0xed, 0x2e, 0x5d, 0x3a, 0xba, 0xfa}};
// {65BD0710-24D2-4FF7-9324-ED2E5D3ABAFA}
constexpr GUID kIidMediaDet = {0x65bd0710, 0x24d2, 0x4ff7, {0x93, 0x24, 0xed, 0x2e, 0x5d, 0x3a, 0xba, 0xfa}};
// {73646976-0000-0010-8000-00AA00389B71}, the major type 'vids'
constexpr GUID kMediaTypeVideo = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// {05589F80-C356-11CE-BF01-00AA0055595A}, a VIDEOINFOHEADER format block
constexpr GUID kFormatVideoInfo = {0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};

constexpr HRESULT kInvalidMediaType = static_cast<HRESULT>(0x80040200L); // VFW_E_INVALIDMEDIATYPE

struct IMediaDet : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Filter(IUnknown** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Filter(IUnknown* filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_OutputStreams(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentStream(LONG* stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CurrentStream(LONG stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StreamType(GUID* majorType) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StreamTypeB(BSTR* majorType) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StreamLength(double* seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Filename(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Filename(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitmapBits(double streamTime, LONG* bufferSize, char* buffer,
                                                    LONG width, LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteBitmapBits(double streamTime, LONG width, LONG height,
                                                      BSTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StreamMediaType(AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSampleGrabber(IUnknown** grabber) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FrameRate(double* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnterBitmapGrabMode(double seekTime) = 0;
};

} // namespace dovrikna

#endif
