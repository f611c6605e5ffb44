// How many threads this test process has, to see the library's worker come and go.
#ifndef DOVRIKNA_TESTS_PROCESS_THREADS_H
#define DOVRIKNA_TESTS_PROCESS_THREADS_H

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>

inline size_t threadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

#endif
