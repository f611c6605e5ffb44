// The TwainSession record, shared by the session operations (twain_session.cpp)
// and the image transfer (image_transfer.cpp), and visible to their tests.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_SESSION_STATE_H
#define DOVRIKNA_ACQUISITION_TWAIN_SESSION_STATE_H

#include <windows.h>

#include <memory>
#include <vector>

#include "pages/image_file_list.h"
#include "acquisition/name_block.h"
#include "acquisition/transfer_rules.h"
#include "acquisition/twain_session.h"
#include "acquisition/twain_types.h"
#include "frame/win_handles.h"

namespace dovrikna {

using DSMENTRYPROC = TW_UINT16(WINAPI*)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG,
                                       TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

class TwainSession {
public:
    TwainSession() = default;
    virtual ~TwainSession();

    TwainSession(const TwainSession&) = delete;
    TwainSession& operator=(const TwainSession&) = delete;

    HWND ownerWindow = nullptr;
    BOOL dsmOpen = 0;
    BOOL sourceOpen = 0;
    BOOL sourceIdentityValid = 0;
    BOOL sourceEnabled = 0;
    HMODULE dsmModule = nullptr;
    TW_UINT16 fileTransferSupported = 0;
    TW_UINT16 fileFormat = TWFF_TIFF;
    // How this acquisition's pages are asked for: chosen with ICAP_XFERMECH
    // before the source is enabled.
    PagePlan pagePlan = PagePlan::FileThenNative;
    TW_IDENTITY appIdentity = {};
    TW_IDENTITY sourceIdentity = {};
    ImageFileNode* currentFile = nullptr;
    int expectedFiles = 0;
    int deliveredFiles = 0;
    UINT finalReport = 0;
    ImageFileList files;
    std::unique_ptr<SharedNameBlock> nameWriter;

    // Keeps the requests that a modal loop on this thread retrieves (a
    // source's dialog, the selection dialog, a message box) and posts them
    // again once the loop is over. Installed only while a scope is open or a
    // source is open.
    unique_hook requestKeeper;
    unique_hook sentEntry, sentExit;
    int modalDepth = 0;
    std::vector<UINT> keptRequests;
    // True from an acquisition's first completed file until its final report.
    bool handOverOpen = false;
    // The condition code the conversation log had for the latest call that
    // failed, -1 for none.
    int loggedCondition = -1;
    // A source chosen while another one is open; it replaces sourceIdentity
    // when the open source has been closed.
    TW_IDENTITY chosenIdentity = {};
    bool chosenWaiting = false;
};

extern TwainSession* currentSession;
extern DSMENTRYPROC dsmEntry;

// Marks a stretch of the worker's work during which a modal loop may run on
// its thread (a manager call, a message box, a dispatched message): requests
// retrieved meanwhile are kept and posted again when the outermost ends.
void enterModal();
void leaveModal();
class ModalScope {
public:
    ModalScope() { enterModal(); }
    ~ModalScope() { leaveModal(); }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;
};

// One call of the manager's entry point on the current session's behalf;
// TWRC_FAILURE when there is no entry point. pDest null means the manager.
TW_UINT16 callDsm(TW_IDENTITY* pDest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data);
// The condition code of the latest call, which failed; -1 when the
// destination gives none.
int conditionOfFailure(TW_IDENTITY* pDest);

bool openSource();
bool enableSource();
bool disableSource();
bool closeSource();
void finishAcquisition();

// Before the source is enabled (state 4): sets ICAP_XFERMECH to the
// mechanism chosen from the source's list, and plans the pages by its answer.
void setTransferMechanism();
void inspectCapabilities();
TW_UINT16 transferOneFile(ImageFileNode*& node, TW_UINT16& pending);
bool publishCurrentFile();

} // namespace dovrikna

#endif
