#include "frame/log_pacing.h"

namespace dovrikna {

void logTurnName(char* name, const char* path)
{
    std::uint32_t hash = 2166136261u;
    for (const char* c = path; *c; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c)) * 16777619u;
    const char prefix[] = "dovrikna-log-";
    int at = 0;
    for (; prefix[at]; ++at) name[at] = prefix[at];
    for (int shift = 28; shift >= 0; shift -= 4) name[at++] = "0123456789ABCDEF"[(hash >> shift) & 0xF];
    name[at] = '\0';
}

unsigned turnPatience(bool stalled, bool insideLoader, unsigned timeoutMs)
{
    return stalled || insideLoader ? 0 : timeoutMs;
}

bool turnStalledAfter(bool stalled, unsigned patience, bool gotTurn)
{
    if (gotTurn) return false;
    return stalled || patience > 0;
}

} // namespace dovrikna
