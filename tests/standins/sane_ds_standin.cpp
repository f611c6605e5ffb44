// A scripted TWAIN data source that Wine's own source manager finds under the
// module name "sane.ds" (beside the test program). It answers its identity,
// shows a window when enabled, and, when the test presses its scan or close
// button, tells the manager through DG_CONTROL / DAT_NULL, as a real source
// does. Transfers write the file that the application named.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/twain_types.h"
#include "standins/twain_standin.h"

using namespace dovrikna;

namespace {

using DsmEntry = TW_UINT16(WINAPI*)(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, void*);

CRITICAL_SECTION lock;
HINSTANCE instance = nullptr;
std::vector<std::string> callLog;
std::string problemText;
TW_IDENTITY self;        // as the manager completed it at MSG_OPENDS
TW_IDENTITY application; // the origin of the latest call
HWND ui = nullptr;
int pages = 1;           // pages of the next batch
int nextPage = 0;
std::string lastSetName;

void note(const std::string& line)
{
    EnterCriticalSection(&lock);
    callLog.push_back(line);
    LeaveCriticalSection(&lock);
}

void problem(const std::string& text)
{
    EnterCriticalSection(&lock);
    problemText += text + "\n";
    LeaveCriticalSection(&lock);
}

// Keeps the id the manager gave the source.
void fillIdentity(TW_IDENTITY& identity)
{
    standin::fillStandinIdentity(identity, "Standin Sane Scanner", identity.Id);
}

// Tells the manager about an event, from the source's side.
void notifyManager(TW_UINT16 msg)
{
    HMODULE manager = GetModuleHandleA("twain_32.dll");
    auto entry = manager ? reinterpret_cast<DsmEntry>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")))
                         : nullptr;
    if (!entry) {
        problem("no DSM_Entry to notify");
        return;
    }
    TW_UINT16 rc = entry(&self, &application, DG_CONTROL, 0x0000 /* DAT_NULL */, msg, nullptr);
    if (rc != TWRC_SUCCESS) problem("DAT_NULL refused: " + std::to_string(rc));
}

HGLOBAL enumeration(std::initializer_list<TW_UINT16> items)
{
    SIZE_T size = offsetof(TW_ENUMERATION, ItemList) + items.size() * sizeof(TW_UINT16);
    HGLOBAL handle = GlobalAlloc(GHND, size);
    auto* container = static_cast<TW_ENUMERATION*>(GlobalLock(handle));
    container->ItemType = TWTY_UINT16;
    container->NumItems = static_cast<TW_UINT32>(items.size());
    auto* list = reinterpret_cast<TW_UINT16*>(container->ItemList);
    for (TW_UINT16 item : items) *list++ = item;
    GlobalUnlock(handle);
    return handle;
}

LRESULT CALLBACK uiProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

TW_UINT16 control(TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    switch (dat) {
    case DAT_IDENTITY: {
        auto* identity = static_cast<TW_IDENTITY*>(data);
        if (msg == 0x0001 /* MSG_GET */) {
            fillIdentity(*identity);
            return TWRC_SUCCESS;
        }
        if (msg == MSG_OPENDS) {
            note("OPENDS");
            fillIdentity(*identity);
            self = *identity;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDS) {
            note("CLOSEDS");
            return TWRC_SUCCESS;
        }
        break;
    }
    case DAT_USERINTERFACE: {
        auto* userInterface = static_cast<TW_USERINTERFACE*>(data);
        if (msg == MSG_ENABLEDS) {
            note("ENABLEDS " + std::to_string(userInterface->ShowUI));
            nextPage = 0;
            ui = CreateWindowA("DovriknaSaneStandinUI", "Standin Sane Scanner", WS_POPUP, 0, 0, 10, 10, nullptr,
                               nullptr, instance, nullptr);
            return TWRC_SUCCESS;
        }
        if (msg == MSG_DISABLEDS) {
            note("DISABLEDS " + std::to_string(userInterface->ShowUI));
            if (ui) DestroyWindow(ui);
            ui = nullptr;
            return TWRC_SUCCESS;
        }
        break;
    }
    case DAT_EVENT: {
        auto* event = static_cast<TW_EVENT*>(data);
        const MSG* message = static_cast<const MSG*>(event->pEvent);
        event->TWMessage = MSG_NULL;
        if (!ui || message->hwnd != ui) return TWRC_NOTDSEVENT;
        if (message->message == standin::kScanButton) notifyManager(MSG_XFERREADY);
        if (message->message == standin::kCloseButton) notifyManager(MSG_CLOSEDSREQ);
        return TWRC_DSEVENT;
    }
    case DAT_CAPABILITY: {
        auto* capability = static_cast<TW_CAPABILITY*>(data);
        if (msg == MSG_SET) {
            // The application's container, which it frees.
            const auto* value = static_cast<const TW_ONEVALUE*>(GlobalLock(capability->hContainer));
            note("SET " + std::to_string(capability->Cap) + " " + (value ? std::to_string(value->Item) : "?"));
            if (value) GlobalUnlock(capability->hContainer);
            return value && capability->Cap == ICAP_XFERMECH ? TWRC_SUCCESS : TWRC_FAILURE;
        }
        note("GET " + std::to_string(capability->Cap));
        capability->ConType = TWON_ENUMERATION;
        if (capability->Cap == ICAP_XFERMECH) {
            capability->hContainer = enumeration({TWSX_NATIVE, TWSX_FILE});
            return TWRC_SUCCESS;
        }
        if (capability->Cap == ICAP_IMAGEFILEFORMAT) {
            capability->hContainer = enumeration({TWFF_BMP, TWFF_TIFF});
            return TWRC_SUCCESS;
        }
        return TWRC_FAILURE;
    }
    case DAT_SETUPFILEXFER: {
        auto* setup = static_cast<TW_SETUPFILEXFER*>(data);
        if (msg == MSG_SET) {
            lastSetName.assign(setup->FileName, strnlen(setup->FileName, sizeof setup->FileName));
            note("SETUPFILEXFER " + lastSetName + " " + std::to_string(setup->Format));
            return TWRC_SUCCESS;
        }
        break;
    }
    case DAT_PENDINGXFERS: {
        auto* pending = static_cast<TW_PENDINGXFERS*>(data);
        if (msg == MSG_ENDXFER) {
            ++nextPage;
            pending->Count = static_cast<TW_UINT16>(pages - nextPage);
            note("ENDXFER " + std::to_string(pending->Count));
            return TWRC_SUCCESS;
        }
        if (msg == MSG_RESET) {
            note("RESET");
            pending->Count = 0;
            return TWRC_SUCCESS;
        }
        break;
    }
    }
    problem("unexpected control call DAT " + std::to_string(dat) + " MSG " + std::to_string(msg));
    return TWRC_FAILURE;
}

TW_UINT16 image(TW_UINT16 dat, TW_UINT16 msg, void*)
{
    if (dat == DAT_IMAGEINFO && msg == MSG_GET) {
        note("IMAGEINFO");
        return TWRC_SUCCESS;
    }
    if (dat == DAT_IMAGEFILEXFER && msg == MSG_GET) {
        note("IMAGEFILEXFER");
        HANDLE file = CreateFileA(lastSetName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            problem("cannot write " + lastSetName);
            return TWRC_FAILURE;
        }
        char text[32];
        int length = std::snprintf(text, sizeof text, "sane page %d\n", nextPage + 1);
        DWORD written = 0;
        WriteFile(file, text, length, &written, nullptr);
        CloseHandle(file);
        return TWRC_XFERDONE;
    }
    problem("unexpected image call DAT " + std::to_string(dat) + " MSG " + std::to_string(msg));
    return TWRC_FAILURE;
}

} // namespace

extern "C" {

TW_UINT16 WINAPI DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    if (origin) application = *origin;
    if (dg == DG_CONTROL) return control(dat, msg, data);
    if (dg == DG_IMAGE) return image(dat, msg, data);
    problem("unexpected group " + std::to_string(dg));
    return TWRC_FAILURE;
}

void sane_set_pages(int count) { pages = count; }
HWND sane_source_window() { return ui; }

// The calls the source received, one per line; and its problems.
int sane_log(char* out, int size)
{
    EnterCriticalSection(&lock);
    std::string text;
    for (const std::string& line : callLog) text += line + "\n";
    LeaveCriticalSection(&lock);
    if (size > 0) {
        std::strncpy(out, text.c_str(), size - 1);
        out[size - 1] = '\0';
    }
    return static_cast<int>(text.size());
}

int sane_problems(char* out, int size)
{
    EnterCriticalSection(&lock);
    std::string text = problemText;
    LeaveCriticalSection(&lock);
    if (size > 0) {
        std::strncpy(out, text.c_str(), size - 1);
        out[size - 1] = '\0';
    }
    return static_cast<int>(text.size());
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        instance = module;
        InitializeCriticalSection(&lock);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = uiProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = "DovriknaSaneStandinUI";
        RegisterClassA(&windowClass);
    }
    return TRUE;
}
