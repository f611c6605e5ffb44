// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/acquisition_log.h"

#include <vector>

#include "acquisition/conversation_text.h"
#include "acquisition/transfer_rules.h"
#include "acquisition/twain_session_state.h"
#include "frame/log_line.h"

namespace dovrikna {

namespace {

// Every message of the worker's loop is offered to the source; most bring
// nothing back. Those are only counted (on the worker, the one caller).
unsigned long quietEvents = 0;
unsigned long quietEventsTaken = 0;

// Memory strips that came with TWRC_SUCCESS, and their rows.
unsigned long quietStrips = 0;
unsigned long long quietRows = 0;

void flushQuietEvents()
{
    if (quietStrips) {
        LogLine line;
        line.text("DSM IMAGE/IMAGEMEMXFER/GET x").number(quietStrips).text(" strips of ").number(quietRows);
        line.text(" rows in all -> SUCCESS");
        quietStrips = 0;
        quietRows = 0;
        writeLogLine(line);
    }
    if (quietEvents == 0) return;
    LogLine line;
    line.text("DSM CONTROL/EVENT/PROCESSEVENT x").number(quietEvents);
    line.text(" without a message from the source, ").number(quietEventsTaken).text(" of them taken");
    quietEvents = 0;
    quietEventsTaken = 0;
    writeLogLine(line);
}

std::vector<TW_UINT16> containerItemsOf(const TW_CAPABILITY& capability)
{
    HGLOBAL handle = static_cast<HGLOBAL>(capability.hContainer);
    if (!handle) return {};
    std::vector<TW_UINT16> items;
    const SIZE_T size = GlobalSize(handle);
    if (const void* bytes = GlobalLock(handle)) {
        items = containerItems(bytes, size, capability.ConType);
        GlobalUnlock(handle);
    }
    return items;
}

LogLine& describeRequest(LogLine& line, UINT message)
{
    line.text("request ");
    describeMessage(line, message);
    return line;
}

void logReport(unsigned message, int status)
{
    LogLine line;
    line.text("report ");
    describeMessage(line, message);
    line.text(", status ").signedNumber(status);
    writeLogLine(line);
}

} // namespace

int logDsmCall(TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc)
{
    if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT && data &&
        static_cast<TW_EVENT*>(data)->TWMessage == MSG_NULL) {
        ++quietEvents;
        if (rc == TWRC_DSEVENT) ++quietEventsTaken;
        return -1;
    }
    if (dat == DAT_IMAGEMEMXFER && rc == TWRC_SUCCESS && data) {
        ++quietStrips;
        quietRows += static_cast<TW_IMAGEMEMXFER*>(data)->Rows;
        return -1;
    }
    flushQuietEvents();

    DsmCallRecord call;
    call.dest = dest;
    call.group = group;
    call.dat = dat;
    call.msg = msg;
    call.data = data;
    call.rc = rc;
    std::vector<TW_UINT16> items;
    // An answer's container, or the one of ours that a MSG_SET offered.
    if (dat == DAT_CAPABILITY && data && (msg == MSG_SET || rc == TWRC_SUCCESS)) {
        items = containerItemsOf(*static_cast<TW_CAPABILITY*>(data));
        call.items = items.data();
        call.itemCount = items.size();
    }
    TwainSession* session = currentSession;
    if (rc == TWRC_FAILURE && dsmEntry && session) {
        TW_STATUS status = {0xFFFF, 0};
        call.hasCondition = dsmEntry(&session->appIdentity, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status) ==
                            TWRC_SUCCESS;
        call.condition = status.ConditionCode;
    }
    LogLine line;
    describeDsmCall(line, call);
    writeLogLine(line);
    return call.hasCondition ? call.condition : -1;
}

void logDsmCallStarts(TW_IDENTITY* dest, TW_UINT16 dat, TW_UINT16 msg)
{
    if (dat != DAT_USERINTERFACE || !dest || (msg != MSG_ENABLEDS && msg != MSG_DISABLEDS)) return;
    flushQuietEvents();
    LogLine line;
    line.text("source ").quoted(dest->ProductName, sizeof dest->ProductName);
    line.text(msg == MSG_ENABLEDS ? " asked to show its user interface" : " asked to close its user interface");
    writeLogLine(line);
}

void logBatchEndTaken(int completedPages)
{
    flushQuietEvents();
    LogLine line;
    line.text("IMAGEINFO refused with SEQERROR after ").signedNumber(completedPages);
    line.text(" pages, the count never having gone down: taken as the batch's end");
    writeLogLine(line);
}

void logPagePlan(TW_UINT16 chosen, bool accepted, PagePlan plan)
{
    flushQuietEvents();
    LogLine line;
    describePagePlan(line, chosen, accepted, plan);
    writeLogLine(line);
}

void logManager(HMODULE manager, bool entryFound)
{
    LogLine line;
    char path[MAX_PATH] = "";
    if (manager && GetModuleFileNameA(manager, path, MAX_PATH) > 0)
        line.text("manager ").quoted(path, MAX_PATH).text(entryFound ? " loaded" : " loaded without DSM_Entry");
    else
        line.text("no manager: TWAIN_32.DLL (or TWAINDSM.DLL) was not found or would not load");
    writeLogLine(line);
}

void logRequest(UINT message, DWORD worker)
{
    LogLine line;
    describeRequest(line, message);
    if (worker)
        line.text(" to thread ").number(worker);
    else
        line.text(" lost: no worker thread");
    writeLogLine(line);
}

void logRequestLost(UINT message, DWORD error)
{
    LogLine line;
    describeRequest(line, message).text(" not posted, error ").number(error);
    writeLogLine(line);
}

void logForward(UINT message, bool forwarded)
{
    LogLine line;
    describeRequest(line, message).text(forwarded ? " forwarded to the Launcher" : " dropped: no Launcher window");
    writeLogLine(line);
}

void logHandOver(const char* path, int number)
{
    LogLine line;
    line.text("file ").signedNumber(number).text(" handed over: ").quoted(path, MAX_PATH);
    writeLogLine(line);
}

void listenToReports()
{
    reportListener = logReport;
}

} // namespace dovrikna
