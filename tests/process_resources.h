// What this test process holds, to see a library give back what it took:
// kernel handles (counted by the system's handle table, since
// GetProcessHandleCount answers 0 under Wine), threads, windows, and the
// reference count the loader keeps for a module.
#ifndef DOVRIKNA_TESTS_PROCESS_RESOURCES_H
#define DOVRIKNA_TESTS_PROCESS_RESOURCES_H

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cwchar>
#include <vector>

namespace resources {

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

// Kernel handles open in this process; -1 when the system will not tell.
inline long kernelHandlesOfThisProcess()
{
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        void* object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG infoClass, void* info, ULONG length, ULONG* returned);
    const ULONG kSystemHandleInformation = 16;
    const LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    static const Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 16);
    LONG status;
    for (;;) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kLengthMismatch) break;
        buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
    }
    if (status < 0) return -1;
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == GetCurrentProcessId()) ++count;
    return count;
}

// Windows of this process's threads, top-level and child.
inline size_t windowsOfThisProcess()
{
    struct Counter {
        static BOOL CALLBACK child(HWND window, LPARAM count)
        {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == GetCurrentProcessId()) ++*reinterpret_cast<size_t*>(count);
            return TRUE;
        }
        static BOOL CALLBACK top(HWND window, LPARAM count)
        {
            child(window, count);
            EnumChildWindows(window, child, count);
            return TRUE;
        }
    };
    size_t count = 0;
    EnumWindows(Counter::top, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The loader's reference count of the module named `baseName` (such as
// L"TWAIN_32.DLL"), read from the loader's own list; 0 when it is not loaded.
// Wine keeps the count in the entry's LoadCount; a count the loader pins
// reads as 0xFFFF.
inline int moduleReferences(const wchar_t* baseName)
{
    struct UnicodeText {
        USHORT length, maximum;
        wchar_t* buffer;
    };
    // The leading fields of the loader's LDR_DATA_TABLE_ENTRY.
    struct LoaderEntry {
        LIST_ENTRY loadOrder, memoryOrder, initOrder;
        void* base;
        void* entryPoint;
        ULONG size;
        UnicodeText fullName, baseName;
        ULONG flags;
        USHORT loadCount;
    };
    struct LoaderData {
        ULONG length;
        BOOLEAN initialized;
        void* ssHandle;
        LIST_ENTRY loadOrder;
    };
    struct ProcessBlock {
        BOOLEAN flags[4];
        HANDLE mutant;
        void* imageBase;
        LoaderData* loader;
    };
    struct ThreadBlock {
        NT_TIB tib;
        void* environment;
        void* clientId[2];
        void* activeRpc;
        void* tls;
        ProcessBlock* process;
    };
    // Held while the list is walked, so that no load or unload changes it.
    using Lock = LONG(WINAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
    using Unlock = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    static const Lock lock = reinterpret_cast<Lock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    static const Unlock unlock =
        reinterpret_cast<Unlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    ULONG_PTR cookie = 0;
    if (lock) lock(0, nullptr, &cookie);
    int references = 0;
    const ProcessBlock* process = reinterpret_cast<const ThreadBlock*>(NtCurrentTeb())->process;
    const LIST_ENTRY* head = &process->loader->loadOrder;
    for (const LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        const LoaderEntry* entry = reinterpret_cast<const LoaderEntry*>(link);
        const size_t length = entry->baseName.length / sizeof(wchar_t);
        if (length == std::wcslen(baseName) && _wcsnicmp(entry->baseName.buffer, baseName, length) == 0) {
            references = entry->loadCount;
            break;
        }
    }
    if (unlock) unlock(0, cookie);
    return references;
}

// Bytes in use in every heap of the process (the C runtime's allocations
// included).
inline size_t heapBytesInUse()
{
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t busy = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        if (!HeapLock(heaps[i])) continue;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

// Everything above at one moment, for comparing before and after.
struct Snapshot {
    long kernelHandles;
    size_t threads;
    size_t windows;

    static Snapshot now() { return {kernelHandlesOfThisProcess(), threadsOfThisProcess(), windowsOfThisProcess()}; }
};

} // namespace resources

#endif
