// The conversation log's words for the scanning conversation: each DSM_Entry
// call with the fields of its data that tell what happened, and the messages
// of the acquisition protocol. No Windows header: built natively for tests.
#ifndef DOVRIKNA_ACQUISITION_CONVERSATION_TEXT_H
#define DOVRIKNA_ACQUISITION_CONVERSATION_TEXT_H

#include <cstddef>

#include "acquisition/transfer_rules.h"
#include "acquisition/twain_types.h"
#include "frame/log_line.h"

namespace dovrikna {

// One DSM_Entry call after it returned.
struct DsmCallRecord {
    const TW_IDENTITY* dest = nullptr; // null: the manager
    TW_UINT32 group = 0;
    TW_UINT16 dat = 0;
    TW_UINT16 msg = 0;
    const void* data = nullptr; // the record as the call left it
    TW_UINT16 rc = 0;
    // The items of the container a capability MSG_GET returned.
    const TW_UINT16* items = nullptr;
    std::size_t itemCount = 0;
    // The condition code DAT_STATUS gave after a failure.
    bool hasCondition = false;
    TW_UINT16 condition = 0;
};

// "DSM CONTROL/IDENTITY/OPENDS to manager: Id 7 "Scanner" ... -> FAILURE,
// condition NODS (3)"
void describeDsmCall(LogLine& line, const DsmCallRecord& call);

// "transfer mechanism MEMORY set: pages by memory, else natively"
void describePagePlan(LogLine& line, TW_UINT16 chosen, bool accepted, PagePlan plan);

// "ACQUIRE", "FILE_READY"... for the TWM_* numbers, else the number.
void describeMessage(LogLine& line, unsigned message);

} // namespace dovrikna

#endif
