// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/twain_session.h"

#include <cstring>
#include <string>

#include "acquisition/acquisition_log.h"
#include "acquisition/in_process_requests.h"
#include "acquisition/loader_lock.h"
#include "acquisition/transfer_rules.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_session_state.h"
#include "acquisition/library_hold.h"

namespace dovrikna {

TwainSession* currentSession = nullptr;
DSMENTRYPROC dsmEntry = nullptr;

namespace {

const char kConnectFailed[] = "Failed to connect to data source manager.";
const char kCloseFailed[] = "Failed to close data source manager.";

// A modal loop retrieves every message of the thread and drops thread
// messages, which have no window to go to. The worker's requests are taken
// out of such a loop here and kept for later. Only the worker's own
// retrieval runs outside every scope.
LRESULT CALLBACK keepRequests(int code, WPARAM removal, LPARAM lParam)
{
    if (code == HC_ACTION && removal == PM_REMOVE && currentSession && currentSession->modalDepth > 0) {
        MSG* message = reinterpret_cast<MSG*>(lParam);
        if (isLibraryRequest(*message)) {
            currentSession->keptRequests.push_back(message->message);
            message->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

// The keeper is installed only while it may have work: while a scope is
// open, and while a source is open (its events come through scopes one after
// another, and nothing is installed or removed around its enabling). A hook of
// the thread's own makes every message the thread retrieves dearer (under
// Wine, calls to its server around each hook call), the worker's own requests
// among them: a page's hand-over would pay for it.
void fitRequestKeeper(TwainSession& session)
{
    const bool wanted = session.modalDepth > 0 || session.sourceOpen;
    if (wanted && !session.requestKeeper)
        session.requestKeeper.reset(SetWindowsHookExA(WH_GETMESSAGE, keepRequests, nullptr, GetCurrentThreadId()));
    else if (!wanted && session.requestKeeper)
        session.requestKeeper.reset();
}

// A message sent to a window of this thread (by another thread, while the
// worker waits for its next message) may run a modal loop too: its handling
// is a scope of its own.
LRESULT CALLBACK enterSentMessage(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) enterModal();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK leaveSentMessage(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) leaveModal();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void showMessage(TwainSession& session, const char* text)
{
    ModalScope scope;
    MessageBoxA(session.ownerWindow, text, nullptr, MB_OK);
}

void copyName(TW_STR32& field, const char* text)
{
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

void fillAppIdentity(TW_IDENTITY& identity)
{
    std::memset(&identity, 0, sizeof identity);
    identity.Id = 0;
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 703;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    copyName(identity.Version.Info, "quenLark 1.0  07/29/2002");
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 7;
    identity.SupportedGroups = DG_SUPPORTED;
    copyName(identity.Manufacturer, "quenLark");
    copyName(identity.ProductFamily, "DOZAV Urir Odov");
    copyName(identity.ProductName, "quenLark");
}

// Loads the manager named `fileName` when the directory holds a file of that
// name. The load goes by the bare name, so that the system's search order
// decides which copy is taken.
void loadDsm(TwainSession& session, const std::string& directory, const char* fileName)
{
    std::string probe = pathInDirectory(directory, fileName);
    OFSTRUCT fileInfo;
    if (OpenFile(probe.c_str(), &fileInfo, OF_EXIST) == HFILE_ERROR) return;
    dsmEntry = reinterpret_cast<DSMENTRYPROC>(
        reinterpret_cast<void*>(loadUnlessUnloading(fileName, "DSM_Entry", &session.dsmModule)));
}

std::string windowsDirectory()
{
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(buffer, length);
}

std::string systemDirectory()
{
    char buffer[MAX_PATH];
    UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(buffer, length);
}

} // namespace

void enterModal()
{
    TwainSession* session = currentSession;
    if (session && ++session->modalDepth == 1) fitRequestKeeper(*session);
}

// When the outermost scope ends, the requests kept meanwhile are posted
// again, in the order they came, for the worker's own loop.
void leaveModal()
{
    TwainSession* session = currentSession;
    if (!session || --session->modalDepth != 0) return;
    fitRequestKeeper(*session);
    if (session->keptRequests.empty()) return;
    std::vector<UINT> kept;
    kept.swap(session->keptRequests);
    for (UINT request : kept) PostThreadMessageA(GetCurrentThreadId(), request, kRequestMark, 0);
}

TW_UINT16 callDsm(TW_IDENTITY* pDest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    TwainSession* session = currentSession;
    if (!dsmEntry || !session) return TWRC_FAILURE;
    ModalScope scope;
    if (conversationLogOn) logDsmCallStarts(pDest, dat, msg);
    TW_UINT16 code = dsmEntry(&session->appIdentity, pDest, group, dat, msg, data);
    session->loggedCondition = conversationLogOn ? logDsmCall(pDest, group, dat, msg, data, code) : -1;
    return code;
}

int conditionOfFailure(TW_IDENTITY* pDest)
{
    TwainSession* session = currentSession;
    if (!session) return -1;
    if (session->loggedCondition >= 0) return session->loggedCondition;
    TW_STATUS status = {0xFFFF, 0};
    if (callDsm(pDest, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return -1;
    return status.ConditionCode;
}

void createSession(HWND ownerWindow)
{
    if (currentSession) return;
    TwainSession* session = new TwainSession;
    currentSession = session;
    session->ownerWindow = ownerWindow;
    session->sentEntry.reset(SetWindowsHookExA(WH_CALLWNDPROC, enterSentMessage, nullptr, GetCurrentThreadId()));
    session->sentExit.reset(SetWindowsHookExA(WH_CALLWNDPROCRET, leaveSentMessage, nullptr, GetCurrentThreadId()));

    dsmEntry = nullptr;
    // TWAIN_32.DLL first: users' chosen sources are stored by that manager.
    // Where it cannot be loaded (a 64-bit process cannot load the 32-bit
    // manager; a system without it), the manager of the TWAIN 2 era,
    // TWAINDSM.DLL in the system folder, serves both architectures.
    loadDsm(*session, windowsDirectory(), "TWAIN_32.DLL");
    if (!dsmEntry) {
        if (session->dsmModule) FreeLibrary(session->dsmModule);
        session->dsmModule = nullptr;
        loadDsm(*session, systemDirectory(), "TWAINDSM.DLL");
    }

    fillAppIdentity(session->appIdentity);
    if (conversationLogOn) logManager(session->dsmModule, dsmEntry != nullptr);
}

void deleteSession()
{
    if (!currentSession) return;
    // The destructor works through currentSession, so it is cleared after.
    delete currentSession;
    currentSession = nullptr;
}

HMODULE deleteSessionKeepingManager()
{
    if (!currentSession) return nullptr;
    HMODULE manager = currentSession->dsmModule;
    currentSession->dsmModule = nullptr;
    deleteSession();
    dsmEntry = nullptr;
    return manager;
}

TwainSession::~TwainSession()
{
    // A source still up is brought down first: a manager refuses to close
    // while one of its sources is open.
    disableSource();
    closeSource();
    if (dsmOpen) closeDsm();
    if (dsmModule) {
        FreeLibrary(dsmModule);
        dsmEntry = nullptr; // its code is gone
        dsmModule = nullptr;
    }
    if (ownerWindow) {
        // The parent belongs to another thread, which may be waiting for this
        // one (an unload stops the worker): it is not notified.
        SetWindowLongA(ownerWindow, GWL_EXSTYLE,
                       GetWindowLongA(ownerWindow, GWL_EXSTYLE) | WS_EX_NOPARENTNOTIFY);
        DestroyWindow(ownerWindow);
    }
    // files deletes every node; the image files on disk stay. nameWriter,
    // when a hand-over was still open, unmaps its view and closes its mapping.
}

void openDsm()
{
    TwainSession* session = currentSession;
    if (!session) return;
    // A manager left open (no default source, a source that would not open or
    // enable) is used as it is: a manager refuses a second open, and the
    // refusal would clear the flag of a manager that stays open, so that no
    // later request could ever close or reopen it.
    if (session->dsmOpen) return;
    HWND parent = session->ownerWindow;
    TW_UINT16 code = callDsm(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
    session->dsmOpen = code == TWRC_SUCCESS;
    // While a manager is open (and its sources with it), taking it down would
    // call into the manager and its source, which free modules and so need
    // the loader lock that an unload of this library holds: the library stays
    // mapped until the manager is closed again.
    keepLibraryMappedWhile(session->dsmOpen != 0);
    if (!session->dsmOpen) showMessage(*session, kConnectFailed);
}

void closeDsm()
{
    TwainSession* session = currentSession;
    if (!session || !session->dsmOpen) return;
    // A manager refuses to close while one of its sources is open (a
    // selection made while a source is up): it stays open for that source,
    // whose close is followed by the manager's.
    if (session->sourceOpen) return;
    HWND parent = session->ownerWindow;
    TW_UINT16 code = callDsm(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    session->dsmOpen = 0;
    if (code != TWRC_SUCCESS) showMessage(*session, kCloseFailed);
    // After the message box: an unload that this may start waits for the
    // worker's loop.
    keepLibraryMappedWhile(false);
}

bool chooseSource(bool useDefault)
{
    TwainSession* session = currentSession;
    if (!session || !session->dsmOpen) return false;
    TW_IDENTITY chosen;
    std::memset(&chosen, 0, sizeof chosen);
    TW_UINT16 code = callDsm(nullptr, DG_CONTROL, DAT_IDENTITY,
                             useDefault ? MSG_GETDEFAULT : MSG_USERSELECT, &chosen);
    if (code != TWRC_SUCCESS) return false;
    if (session->sourceOpen) {
        // The open source is addressed by its identity until it is closed.
        session->chosenIdentity = chosen;
        session->chosenWaiting = true;
    } else {
        session->sourceIdentity = chosen;
        session->chosenWaiting = false;
    }
    session->sourceIdentityValid = 1;
    return true;
}

bool openSource()
{
    TwainSession* session = currentSession;
    if (!session || !session->dsmOpen || session->sourceOpen) return false;
    TW_UINT16 code = callDsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &session->sourceIdentity);
    session->sourceOpen = code == TWRC_SUCCESS;
    fitRequestKeeper(*session);
    return session->sourceOpen != 0;
}

bool enableSource()
{
    TwainSession* session = currentSession;
    if (!session || !session->dsmOpen || !session->sourceOpen) return false;
    TW_USERINTERFACE ui;
    std::memset(&ui, 0, sizeof ui);
    ui.ShowUI = 1;
    ui.ModalUI = 0;
    ui.hParent = session->ownerWindow;
    TW_UINT16 code = callDsm(&session->sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    if (code != TWRC_SUCCESS) return false;
    session->sourceEnabled = 1;
    return true;
}

bool disableSource()
{
    TwainSession* session = currentSession;
    if (!session) return false;
    bool disabled = false;
    if (session->dsmOpen && session->sourceOpen && session->sourceEnabled) {
        TW_USERINTERFACE ui;
        std::memset(&ui, 0, sizeof ui);
        ui.ShowUI = 0x00FF;
        ui.ModalUI = 0;
        ui.hParent = session->ownerWindow;
        disabled = callDsm(&session->sourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS,
                           &ui) == TWRC_SUCCESS;
    }
    session->sourceEnabled = 0;
    return disabled;
}

bool closeSource()
{
    TwainSession* session = currentSession;
    if (!session || !session->dsmOpen || !session->sourceOpen) return false;
    TW_UINT16 code = callDsm(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &session->sourceIdentity);
    session->sourceOpen = 0;
    fitRequestKeeper(*session);
    if (session->chosenWaiting) {
        session->sourceIdentity = session->chosenIdentity;
        session->chosenWaiting = false;
    }
    return code == TWRC_SUCCESS;
}

void startAcquisition()
{
    TwainSession* session = currentSession;
    if (!session) return;
    // A source already enabled shows its dialog still: this request joins
    // the acquisition under way.
    if (session->sourceEnabled) return;
    openDsm();
    if (session->dsmOpen && !session->sourceIdentityValid) chooseSource(true);
    bool started = false;
    if (session->sourceIdentityValid) {
        // A source that opened but would not enable is still open; when the
        // user has chosen another one since, it is closed to make way.
        if (session->sourceOpen && !session->sourceEnabled && session->chosenWaiting) closeSource();
        openSource();
        // Capabilities are set only before the source is enabled.
        if (session->sourceOpen) setTransferMechanism();
        started = enableSource();
    }
    // No manager, no source installed, a scanner switched off or refusing:
    // the Java side learns at once (after the connect message, if any) rather
    // than polling for ever. Pages still being handed over end the
    // hand-over themselves.
    if (!started && !session->handOverOpen) applyReport(TWM_ACQUIRE_FAILED);
}

void finishAcquisition()
{
    TwainSession* session = currentSession;
    if (!session) return;
    if (session->sourceIdentityValid) {
        disableSource();
        closeSource();
    }
    closeDsm();
}

} // namespace dovrikna
