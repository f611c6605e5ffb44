// How the conversation log's writers take turns and retry a rotation: the
// decisions that keep every line's cost small whatever another process or a
// viewer of the file does.
#ifndef DOVRIKNA_FRAME_LOG_PACING_H
#define DOVRIKNA_FRAME_LOG_PACING_H

#include <cstdint>

namespace dovrikna {

// The name of the writers' turn (a named mutex) for the log at `path`:
// "dovrikna-log-" and eight hex digits, the case of ASCII letters folded so
// that one file named in two cases is one turn. `name` holds 22 bytes.
void logTurnName(char* name, const char* path);

// How long a line waits for its turn, in ms. Inside DllMain nothing waits
// (the loader lock is held); once a wait has timed out (`stalled`: a writer
// was stopped holding the turn), none waits again until the turn is seen free.
unsigned turnPatience(bool stalled, bool insideLoader, unsigned timeoutMs);
// Whether the turn counts as stalled after a wait with that patience that got
// the turn or not. A look that was not allowed to wait proves nothing.
bool turnStalledAfter(bool stalled, unsigned patience, bool gotTurn);

// A full log's rotation: after one that failed (a viewer holds the older log
// without sharing its deletion), the next try comes only once kRetryMs have
// passed. Times are tick counts in ms, which wrap.
class RotationPacing {
public:
    static constexpr std::uint32_t kRetryMs = 2000;
    bool due(std::uint32_t now) const { return !failed_ || now - failedAt_ >= kRetryMs; }
    void tried(bool rotated, std::uint32_t now)
    {
        failed_ = !rotated;
        failedAt_ = now;
    }

private:
    bool failed_ = false;
    std::uint32_t failedAt_ = 0;
};

} // namespace dovrikna

#endif
