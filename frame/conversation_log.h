// The conversation log: off unless the environment variable DOVRIKNA_LOG
// names a file when the library loads. Then every event of interest is
// appended to that file as one line, time-stamped and tagged with its thread.
// Writing never fails the library: a line that cannot be written is dropped.
#ifndef DOVRIKNA_FRAME_CONVERSATION_LOG_H
#define DOVRIKNA_FRAME_CONVERSATION_LOG_H

namespace dovrikna {

class LogLine;

// Set once by the load sequence, before any other thread of the library
// runs. Every event tests this flag first: with the log off that test is all
// the logging work there is.
extern bool conversationLogOn;

// Load sequence: reads DOVRIKNA_LOG and, when it names a file, writes the
// load line (version, module, process, Windows version).
void openConversationLog(void* moduleInstance);
// The worker has started: from here on a line may wait for its turn.
void logLoadEnded();
// Unload sequence: the unload line. Under the loader lock: kernel32 calls only.
// Neither the lines of the load (up to logLoadEnded) nor this one wait for
// another writer's turn.
void logUnload(bool processTerminating);

// Appends the line with its time, process and thread, as UTF-8. The file is
// opened for each line, so every line is on disk when the call returns, and
// another program may read, move or delete the file at any time. Writers in
// every process that logs to the file take turns; a writer stopped holding
// its turn costs one line a second's wait, after which lines are appended
// without the turn (and the log not rotated) until the turn is seen free. A
// file that has grown past 1 MiB becomes the same name with ".1" appended,
// replacing an earlier one only once that has worked (renamed; copied and
// emptied while a reader that does not share deletion holds it), and a new
// file is begun. While the ".1" file cannot be replaced (a viewer holds it
// without sharing its deletion), the log goes on growing and the rotation is
// tried again every 2 s, never copying for nothing.
void writeLogLine(const LogLine& line);

} // namespace dovrikna

#endif
