// What the scanning code tells the conversation log. Callers test
// conversationLogOn first, so that none of this runs while the log is off.
#ifndef DOVRIKNA_ACQUISITION_ACQUISITION_LOG_H
#define DOVRIKNA_ACQUISITION_ACQUISITION_LOG_H

#include <windows.h>

#include "acquisition/transfer_rules.h"
#include "acquisition/twain_types.h"
#include "frame/conversation_log.h"

namespace dovrikna {

// A DSM_Entry call of the current session that returned `rc`. After a
// failure the condition code is asked of the same destination (DAT_STATUS)
// and returned (-1 when none was had): a source forgets it once asked.
// MSG_PROCESSEVENT calls that bring no message from the source, and the
// memory strips of a page before its last, are counted and summed up in one
// line before the next line of the conversation.
int logDsmCall(TW_IDENTITY* dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc);
// Before a DSM_Entry call: the source asked to show its user interface
// (MSG_ENABLEDS, which may not return before the user closes it) and to take
// it down (MSG_DISABLEDS), so that the log tells where a scan may wait for the
// user. Whether a window shows is the source's affair: the library only asks.
void logDsmCallStarts(TW_IDENTITY* dest, TW_UINT16 dat, TW_UINT16 msg);
// A batch whose count never went down, ended by the source's refusal of the
// next DAT_IMAGEINFO (TWCC_SEQERROR), which the library takes as its end.
void logBatchEndTaken(int completedPages);
// The transfer mechanism chosen before the source was enabled, whether the
// source took it, and how the pages will be asked for.
void logPagePlan(TW_UINT16 chosen, bool accepted, PagePlan plan);
// Which source manager the session loaded, if any.
void logManager(HMODULE manager, bool entryFound);
// A request about to be posted to TwainWorker (0: there is none), and a post
// that failed.
void logRequest(UINT message, DWORD worker);
void logRequestLost(UINT message, DWORD error);
// A request forwarded to the Launcher, or dropped without a Launcher window.
void logForward(UINT message, bool forwarded);
// A path written into the image-name block for the Java side.
void logHandOver(const char* path, int number);
// Turns on the report lines (load sequence, when the log is on).
void listenToReports();

} // namespace dovrikna

#endif
