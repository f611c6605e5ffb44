// The wide (UTF-16) form of Simple MAPI's send call, as published for
// Windows 8 and exported by Wine's mapi32; the mingw headers lack it.
#ifndef DOVRIKNA_DESKTOP_MAPI_WIDE_H
#define DOVRIKNA_DESKTOP_MAPI_WIDE_H

#include <windows.h>
#include <mapi.h>

namespace dovrikna {

struct MapiFileTagExtW {
    ULONG ulReserved;
    ULONG cbTag;
    LPBYTE lpTag;
    ULONG cbEncoding;
    LPBYTE lpEncoding;
};

struct MapiFileDescW {
    ULONG ulReserved;
    ULONG flFlags;
    ULONG nPosition;
    PWSTR lpszPathName;
    PWSTR lpszFileName;
    MapiFileTagExtW* lpFileType;
};

struct MapiRecipDescW {
    ULONG ulReserved;
    ULONG ulRecipClass;
    PWSTR lpszName;
    PWSTR lpszAddress;
    ULONG ulEIDSize;
    LPVOID lpEntryID;
};

struct MapiMessageW {
    ULONG ulReserved;
    PWSTR lpszSubject;
    PWSTR lpszNoteText;
    PWSTR lpszMessageType;
    PWSTR lpszDateReceived;
    PWSTR lpszConversationID;
    FLAGS flFlags;
    MapiRecipDescW* lpOriginator;
    ULONG nRecipCount;
    MapiRecipDescW* lpRecips;
    ULONG nFileCount;
    MapiFileDescW* lpFiles;
};

using LPMAPISENDMAILW = ULONG(WINAPI*)(LHANDLE session, ULONG_PTR uiParam, MapiMessageW* message, FLAGS flags,
                                       ULONG reserved);

} // namespace dovrikna

#endif
