// Splitting the attachment and recipient lists of a mail request, and the
// file-name part of an attachment path. No Windows header: the code page's
// lead-byte test comes in as a function, so other code pages can be tried.
#ifndef DOVRIKNA_DESKTOP_MAIL_LISTS_H
#define DOVRIKNA_DESKTOP_MAIL_LISTS_H

#include <cstddef>
#include <string>
#include <vector>

namespace dovrikna {

// Whether a byte opens a double-byte character of the code page in use.
using LeadByteTest = bool (*)(unsigned char byte);

// Whether the lists are split at this byte at all. Only 0x01 to 0x7F split.
// 0 would match the list's own terminator, and a byte from 0x80 up is no
// character of its own in a double-byte code page (and stands for another
// character in each code page), so for either the whole list is one token.
bool splitsAt(unsigned char separator);

// The tokens of a list as the Java side gives it, in UTF-16: split at every
// separator character (never inside another character, whatever bytes it
// takes in an ANSI code page); the whole list for a separator that does not
// split. Empty tokens included.
std::vector<std::u16string> splitWideList(const std::u16string& list, unsigned char separator);

// The first separator of the list, or null. The list is walked one character
// at a time: a lead byte and the byte after it are one character and never
// the separator, and a lead byte followed by the terminator ends the walk.
// Never looks past the terminator; null for a separator that does not split.
char* findSeparator(char* list, unsigned char separator, LeadByteTest isLeadByte);

// 1 plus the number of separators findSeparator finds one after another.
// An empty list is one (empty) token.
std::size_t countTokens(char* list, unsigned char separator, LeadByteTest isLeadByte);

// Splits one token off the list in place: returns the token that starts at
// *cursor, ends it with a NUL where its separator was, and moves *cursor to
// the next token (null after the last token). Called countTokens times on the
// same list, it yields exactly the counted tokens; empty tokens included.
char* takeToken(char** cursor, unsigned char separator, LeadByteTest isLeadByte);

// What follows the last '\' or ':' of the path, scanning single bytes from the
// end (a 0x5C that is the second byte of a double-byte character counts
// too); the path itself when it has neither.
const char* fileNamePart(const char* path);

} // namespace dovrikna

#endif
