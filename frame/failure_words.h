// Words for the failures the natives log: Simple MAPI's results, the shell's
// answers and what a thumbnail's failure means. Each gives null for a value
// it does not know; the log then shows the number alone.
#ifndef DOVRIKNA_FRAME_FAILURE_WORDS_H
#define DOVRIKNA_FRAME_FAILURE_WORDS_H

#include <cstdint>

namespace dovrikna {

// MAPI_USER_ABORT, MAPI_E_FAILURE, ...
const char* mapiResultName(unsigned long result);
// ShellExecute's answers of 32 or less: SE_ERR_NOASSOC, ERROR_FILE_NOT_FOUND, ...
const char* shellAnswerName(std::intptr_t answer);
// Why no frame came: "no such file" when the file is not there; otherwise
// from the decoder's HRESULT "not a video" or "no video stream", or null when
// only the HRESULT tells.
const char* thumbnailFailureReason(bool fileFound, std::uint32_t hr);

} // namespace dovrikna

#endif
