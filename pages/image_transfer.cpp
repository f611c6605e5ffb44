// States 6 and 7 of the TWAIN conversation: the event filter, the transfer
// batch, and the hand-over of the transferred files to the Java side through
// the image-name block.
// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include <cstring>
#include <new>

#include "acquisition/acquisition_log.h"
#include "acquisition/in_process_requests.h"
#include "pages/memory_transfer.h"
#include "pages/native_transfer.h"
#include "acquisition/transfer_rules.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_session.h"
#include "acquisition/twain_session_state.h"

namespace dovrikna {

namespace {

bool fileExists(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The 16-bit items of the container a successful MSG_GET left in `capability`.
// The container is read within its real size and freed.
std::vector<TW_UINT16> takeContainerItems(const TW_CAPABILITY& capability)
{
    HGLOBAL handle = static_cast<HGLOBAL>(capability.hContainer);
    if (!handle) return {};
    unique_global_memory container(handle);
    std::vector<TW_UINT16> items;
    SIZE_T size = GlobalSize(handle);
    void* bytes = GlobalLock(handle);
    if (bytes) {
        unique_global_lock locked(handle);
        items = containerItems(bytes, size, capability.ConType);
    }
    return items;
}

std::vector<TW_UINT16> queryCapability(TwainSession& session, TW_CAPABILITY& capability)
{
    TW_UINT16 code = callDsm(&session.sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability);
    if (code != TWRC_SUCCESS) return {};
    return takeContainerItems(capability);
}

// Makes the hand-over's last report: how the acquisition ended. A batch that
// completed every page reports TWM_ACQUIRE_DONE.
// While a later request's source is enabled, that acquisition makes the
// report instead: the Java side polls until the first STATUS_FINISHED, and
// would not see the pages still to come.
void endHandOver(TwainSession& session)
{
    UINT report = session.finalReport == TWM_FILE_READY ? TWM_ACQUIRE_DONE : session.finalReport;
    if (!session.sourceEnabled) applyReport(report);
    session.finalReport = TWM_ACQUIRE_DONE;
    session.handOverOpen = false;
    pathWaiting.store(false);
    session.nameWriter.reset();
    session.currentFile = nullptr;
    session.files.dropBefore(nullptr);
}

// The source has transfers left that the batch will not make: they are
// dropped, so that the source can be disabled.
void dropPendingTransfers(TwainSession& session)
{
    TW_PENDINGXFERS pendingTransfers;
    std::memset(&pendingTransfers, 0, sizeof pendingTransfers);
    callDsm(&session.sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingTransfers);
}

// A source that ignores the name it was given writes to a name of its own,
// often the same one for every page, so the next page of the batch would
// overwrite this one before the Java side has it. The page is copied at once
// to a free temp name of ours, keeping the extension the source chose; the
// source's file stays where it put it. When no copy can be made, the page is
// handed over where the source wrote it.
void keepPageWrittenElsewhere(const char* written, ImageFileNode& node)
{
    const char* name = written;
    for (const char* c = written; *c; ++c)
        if (*c == '\\' || *c == '/' || *c == ':') name = c + 1;
    const char* extension = std::strrchr(name, '.');
    if (!extension || std::strlen(extension) > 16) extension = "";

    char copy[MAX_PATH];
    if (pickTempFileName(extension, copy) && CopyFileA(written, copy, TRUE)) {
        std::memcpy(node.path, copy, std::strlen(copy) + 1);
        return;
    }
    std::memcpy(node.path, written, std::strlen(written) + 1);
}

// One transfer, as transferOneFile, telling also whether MSG_ENDXFER was sent.
// The page is asked for as the acquisition's plan says. `native` is set once
// a page came as a native transfer: the batch's later pages are then asked
// for natively at once.
// `infoRefused` tells that the source failed DAT_IMAGEINFO.
TW_UINT16 transferFile(TwainSession& session, ImageFileNode*& node, TW_UINT16& pending, bool& ended,
                       bool& native, bool& infoRefused)
{
    node = nullptr;
    ended = false;
    TW_IMAGEINFO info;
    std::memset(&info, 0, sizeof info);
    TW_UINT16 code = callDsm(&session.sourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    infoRefused = code == TWRC_FAILURE;
    if (code != TWRC_SUCCESS) return code;
    pending = 0;

    const PagePlan plan = native ? PagePlan::Native : session.pagePlan;
    node = new (std::nothrow) ImageFileNode(plan == PagePlan::FileThenNative ? session.fileFormat : TWFF_BMP);
    // A temp directory too long for the transfer's file name: this page fails.
    if (!node || node->path[0] == '\0') return TWRC_FAILURE;

    // File transfer is optional in TWAIN. A source without it refuses the
    // setup, or fails the transfer and keeps the page pending; the page is
    // then taken as a native transfer, which every source supports. So is a
    // page that cannot come in memory strips and is still pending.
    code = TWRC_FAILURE;
    bool pagePending = true;
    if (plan == PagePlan::FileThenNative) {
        TW_SETUPFILEXFER setup;
        std::memset(&setup, 0, sizeof setup);
        std::strcpy(setup.FileName, node->path);
        setup.Format = session.fileFormat;
        setup.VRefNum = 0;
        if (callDsm(&session.sourceIdentity, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup) == TWRC_SUCCESS)
            code = callDsm(&session.sourceIdentity, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    } else if (plan == PagePlan::Memory) {
        code = transferMemory(session, info, *node, pagePending);
    }
    if (code == TWRC_FAILURE && pagePending) {
        code = transferNative(session, *node);
        if (code == TWRC_XFERDONE) native = true;
    }

    TW_PENDINGXFERS pendingTransfers;
    std::memset(&pendingTransfers, 0, sizeof pendingTransfers);
    ended = true;
    if (callDsm(&session.sourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER,
                &pendingTransfers) == TWRC_SUCCESS)
        pending = pendingTransfers.Count;

    // Sources may write where they like; the Java side is only ever handed a
    // path that names a file.
    if (code == TWRC_XFERDONE && !fileExists(node->path)) {
        TW_SETUPFILEXFER written;
        std::memset(&written, 0, sizeof written);
        code = TWRC_FAILURE;
        if (callDsm(&session.sourceIdentity, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &written) ==
            TWRC_SUCCESS) {
            written.FileName[sizeof written.FileName - 1] = '\0';
            std::size_t length = std::strlen(written.FileName);
            if (length > 0 && length < sizeof node->path && fileExists(written.FileName)) {
                keepPageWrittenElsewhere(written.FileName, *node);
                code = TWRC_XFERDONE;
            }
        }
    }
    return code;
}

// Takes a TWM_NEXT_FILE of the natives out of the worker's queue, when one is
// there: the Java side has taken the path in the block. Only thread messages
// of that number are looked at; a source's own message of the number (no
// request mark) stays where it is, and so does everything behind it.
bool takeQueuedNextFile()
{
    HWND threadMessagesOnly = reinterpret_cast<HWND>(-1);
    MSG message;
    if (!PeekMessageA(&message, threadMessagesOnly, TWM_NEXT_FILE, TWM_NEXT_FILE, PM_NOREMOVE) ||
        !isLibraryRequest(message))
        return false;
    if (!PeekMessageA(&message, threadMessagesOnly, TWM_NEXT_FILE, TWM_NEXT_FILE, PM_REMOVE)) return false;
    // Inside a modal loop the request keeper takes it (and posts it again later).
    return message.message == TWM_NEXT_FILE;
}

// Publishes the completed file after the current one, when there is one.
bool publishNextFile(TwainSession& session, bool& failed)
{
    failed = false;
    if (!session.handOverOpen || session.deliveredFiles >= session.expectedFiles || !session.currentFile ||
        !session.currentFile->next)
        return false;
    session.currentFile = session.currentFile->next;
    // The pages before it have been taken: their names are no longer needed.
    session.files.dropBefore(session.currentFile);
    failed = !publishCurrentFile();
    return true;
}

void runBatch(TwainSession& session)
{
    inspectCapabilities();

    // Pages that complete are handed over one per TWM_NEXT_FILE; the first one
    // at once. The count to hand over is the pages that completed, not what
    // the source predicted.
    if (!session.handOverOpen) {
        session.expectedFiles = 0;
        session.deliveredFiles = 0;
        session.currentFile = nullptr;
    }
    bool failed = false;
    bool unpublished = false;
    bool ended = false;
    bool native = false;
    TW_UINT16 pending = 0;
    // The batch runs inside one message of the worker's loop, which would
    // keep every request waiting until its end. Between two transfers the
    // Java side's TWM_NEXT_FILE is taken: it publishes the next completed
    // page at once, or the next page to complete. Requests still owed when
    // the batch ends are served then, as the loop would have served them.
    int owed = 0;
    auto serveRequests = [&] {
        while (session.handOverOpen && takeQueuedNextFile()) ++owed;
        bool publishFailed = false;
        while (owed > 0 && publishNextFile(session, publishFailed)) {
            --owed;
            if (publishFailed) {
                session.finalReport = TWM_ACQUIRE_FAILED;
                unpublished = true;
                failed = true;
                return;
            }
        }
    };
    int completed = 0;
    bool countWentDown = false;
    bool counted = false;
    TW_UINT16 lastCount = 0;
    do {
        ImageFileNode* node = nullptr;
        bool infoRefused = false;
        pending = 0;
        TW_UINT16 code = transferFile(session, node, pending, ended, native, infoRefused);
        if (ended) {
            if (counted && pending < lastCount) countWentDown = true;
            counted = true;
            lastCount = pending;
        }
        if (code == TWRC_XFERDONE) {
            session.finalReport = TWM_FILE_READY;
            session.files.append(node);
            ++session.expectedFiles;
            ++completed;
            if (!session.handOverOpen) {
                session.handOverOpen = true;
                session.currentFile = node;
                if (!publishCurrentFile()) {
                    session.finalReport = TWM_ACQUIRE_FAILED;
                    unpublished = true;
                    failed = true;
                }
            }
        } else if (code == TWRC_CANCEL) {
            session.finalReport = TWM_ACQUIRE_CANCELLED;
            delete node;
        } else if (infoRefused && refusalCompletesBatch(completed, countWentDown,
                                                        conditionOfFailure(&session.sourceIdentity))) {
            // The page after the last: the batch ends as its pages did.
            if (conversationLogOn) logBatchEndTaken(completed);
            break;
        } else {
            // TWRC_FAILURE, or a code a transfer never returns.
            session.finalReport = TWM_ACQUIRE_FAILED;
            delete node;
            failed = true;
        }
        if (!failed) serveRequests();
    } while (!failed && pending > 0);

    if (!ended || pending > 0) dropPendingTransfers(session);
    finishAcquisition();

    // With nothing handed over, or a block that cannot be written, the Java
    // side learns at once how the acquisition ended.
    if (!session.handOverOpen || unpublished) endHandOver(session);
    for (; owed > 0; --owed) deliverNextFile();
}

// The user closed the source's window without scanning.
void closeRequested(TwainSession& session)
{
    if (!session.sourceEnabled) return;
    finishAcquisition();
    session.finalReport = TWM_ACQUIRE_CANCELLED;
    if (!session.handOverOpen) endHandOver(session);
}

} // namespace

bool filterEvent(MSG& message)
{
    TwainSession* session = currentSession;
    // Events are an enabled source's: with none, the manager has nothing to
    // take (a strict one refuses the call), and every message would still pay
    // for its call.
    if (!session || !session->sourceEnabled) return false;
    TW_EVENT event;
    std::memset(&event, 0, sizeof event);
    event.pEvent = &message;
    event.TWMessage = MSG_NULL;
    TW_UINT16 code = callDsm(&session->sourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    bool taken = code == TWRC_DSEVENT;
    if (event.TWMessage == MSG_XFERREADY)
        runBatch(*session);
    else if (event.TWMessage == MSG_CLOSEDSREQ)
        closeRequested(*session);
    return taken;
}

namespace {

// The mechanisms ICAP_XFERMECH lists, asked with `capability`, which the
// caller may use again for another capability.
std::vector<TW_UINT16> offeredMechanisms(TwainSession& session, TW_CAPABILITY& capability)
{
    std::memset(&capability, 0, sizeof capability);
    capability.Cap = ICAP_XFERMECH;
    return queryCapability(session, capability);
}

} // namespace

void setTransferMechanism()
{
    TwainSession* session = currentSession;
    if (!session) return;
    TW_CAPABILITY capability;
    const TW_UINT16 chosen = chooseTransferMechanism(offeredMechanisms(*session, capability));
    bool accepted = false;
    // The container of a MSG_SET is the application's to make and to free.
    unique_global_memory container(chosen == kNoMechanism ? nullptr : GlobalAlloc(GHND, sizeof(TW_ONEVALUE)));
    if (container) {
        if (auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(container.get()))) {
            value->ItemType = TWTY_UINT16;
            value->Item = chosen;
            GlobalUnlock(container.get());
            TW_CAPABILITY set;
            std::memset(&set, 0, sizeof set);
            set.Cap = ICAP_XFERMECH;
            set.ConType = TWON_ONEVALUE;
            set.hContainer = container.get();
            accepted = callDsm(&session->sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &set) == TWRC_SUCCESS;
        }
    }
    session->pagePlan = planPages(chosen, accepted);
    if (conversationLogOn) logPagePlan(chosen, accepted, session->pagePlan);
}

void inspectCapabilities()
{
    TwainSession* session = currentSession;
    if (!session) return;
    TW_CAPABILITY capability;
    for (TW_UINT16 mechanism : offeredMechanisms(*session, capability)) {
        if (mechanism == TWSX_FILE) {
            session->fileTransferSupported = 1;
            break;
        }
    }
    if (session->fileTransferSupported != 1) return;

    // The same record asks for the formats. Its handle was freed above: a
    // source that answers without a container of its own must not leave the
    // freed handle to be read and freed a second time.
    capability.Cap = ICAP_IMAGEFILEFORMAT;
    capability.hContainer = nullptr;
    session->fileFormat = chooseFileFormat(queryCapability(*session, capability));
}

TW_UINT16 transferOneFile(ImageFileNode*& node, TW_UINT16& pending)
{
    bool ended = false;
    bool native = false;
    bool infoRefused = false;
    if (!currentSession) return TWRC_FAILURE;
    return transferFile(*currentSession, node, pending, ended, native, infoRefused);
}

bool publishCurrentFile()
{
    TwainSession* session = currentSession;
    if (!session || !session->currentFile) return false;
    if (!session->nameWriter) {
        session->nameWriter.reset(new (std::nothrow) SharedNameBlock);
        if (!session->nameWriter) return false;
        session->nameWriter->mapping.reset(CreateFileMappingA(
            INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kNameBlockSize, kNameBlockName));
    }
    SharedNameBlock& writer = *session->nameWriter;
    if (!writer.mapping) writer.mapping.reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, kNameBlockName));
    if (!writer.view && writer.mapping)
        writer.view.reset(MapViewOfFile(writer.mapping.get(), FILE_MAP_WRITE, 0, 0, kNameBlockSize));
    if (!writer.view) return false;

    const char* path = session->currentFile->path;
    std::memcpy(writer.view.get(), path, std::strlen(path) + 1);
    if (conversationLogOn) logHandOver(path, session->deliveredFiles + 1);
    pathWaiting.store(true);
    applyReport(TWM_FILE_READY);
    ++session->deliveredFiles;
    return true;
}

void deliverNextFile()
{
    TwainSession* session = currentSession;
    if (!session) return;
    bool failed = false;
    if (publishNextFile(*session, failed) && !failed) return;
    if (failed) session->finalReport = TWM_ACQUIRE_FAILED;
    endHandOver(*session);
}

} // namespace dovrikna
