#include "frame/failure_words.h"

namespace dovrikna {

namespace {

struct Word {
    long long value;
    const char* name;
};

template <unsigned N>
const char* find(const Word (&words)[N], long long value)
{
    for (const Word& word : words)
        if (word.value == value) return word.name;
    return nullptr;
}

const Word kMapiResults[] = {
    {0, "SUCCESS_SUCCESS"},
    {1, "MAPI_USER_ABORT"},
    {2, "MAPI_E_FAILURE"},
    {3, "MAPI_E_LOGON_FAILURE"},
    {4, "MAPI_E_DISK_FULL"},
    {5, "MAPI_E_INSUFFICIENT_MEMORY"},
    {6, "MAPI_E_ACCESS_DENIED"},
    {8, "MAPI_E_TOO_MANY_SESSIONS"},
    {9, "MAPI_E_TOO_MANY_FILES"},
    {10, "MAPI_E_TOO_MANY_RECIPIENTS"},
    {11, "MAPI_E_ATTACHMENT_NOT_FOUND"},
    {12, "MAPI_E_ATTACHMENT_OPEN_FAILURE"},
    {13, "MAPI_E_ATTACHMENT_WRITE_FAILURE"},
    {14, "MAPI_E_UNKNOWN_RECIPIENT"},
    {15, "MAPI_E_BAD_RECIPTYPE"},
    {16, "MAPI_E_NO_MESSAGES"},
    {17, "MAPI_E_INVALID_MESSAGE"},
    {18, "MAPI_E_TEXT_TOO_LARGE"},
    {19, "MAPI_E_INVALID_SESSION"},
    {20, "MAPI_E_TYPE_NOT_SUPPORTED"},
    {21, "MAPI_E_AMBIGUOUS_RECIPIENT"},
    {22, "MAPI_E_MESSAGE_IN_USE"},
    {23, "MAPI_E_NETWORK_FAILURE"},
    {24, "MAPI_E_INVALID_EDITFIELDS"},
    {25, "MAPI_E_INVALID_RECIPS"},
    {26, "MAPI_E_NOT_SUPPORTED"},
};

const Word kShellAnswers[] = {
    {0, "out of memory or resources"},
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {5, "SE_ERR_ACCESSDENIED"},
    {8, "SE_ERR_OOM"},
    {11, "ERROR_BAD_FORMAT"},
    {26, "SE_ERR_SHARE"},
    {27, "SE_ERR_ASSOCINCOMPLETE"},
    {28, "SE_ERR_DDETIMEOUT"},
    {29, "SE_ERR_DDEFAIL"},
    {30, "SE_ERR_DDEBUSY"},
    {31, "SE_ERR_NOASSOC"},
    {32, "SE_ERR_DLLNOTFOUND"},
};

const Word kThumbnailReasons[] = {
    {0x80070002, "no such file"},      // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
    {0x80070003, "no such file"},      // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
    {0xC00D36C4, "not a video"},       // MF_E_UNSUPPORTED_BYTESTREAM_TYPE
    {0xC00D36BE, "not a video"},       // MF_E_INVALID_FILE_FORMAT
    {0xC00D3E98, "not a video"},       // MF_E_UNSUPPORTED_FORMAT
    {0x80040200, "not a video"},       // VFW_E_INVALIDMEDIATYPE
    {0x80040240, "not a video"},       // VFW_E_UNKNOWN_FILE_TYPE
    {0xC00D36B3, "no video stream"},   // MF_E_INVALIDSTREAMNUMBER
};

} // namespace

const char* mapiResultName(unsigned long result)
{
    return find(kMapiResults, static_cast<long long>(result));
}

const char* shellAnswerName(std::intptr_t answer)
{
    return find(kShellAnswers, static_cast<long long>(answer));
}

const char* thumbnailFailureReason(bool fileFound, std::uint32_t hr)
{
    if (!fileFound) return "no such file";
    return find(kThumbnailReasons, static_cast<long long>(hr));
}

} // namespace dovrikna
