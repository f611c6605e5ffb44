// Heap copies of a native's strings, for work that outlives the call or
// writes into the bytes.
#ifndef DOVRIKNA_DESKTOP_HEAP_STRING_H
#define DOVRIKNA_DESKTOP_HEAP_STRING_H

#include <cstdlib>
#include <cstring>

#include "frame/unique_handle.h"

namespace dovrikna {

// A malloc'd copy of the bytes and their terminating NUL; holds nothing when
// the allocation fails.
inline unique_malloc_string heapCopy(const char* bytes)
{
    std::size_t size = std::strlen(bytes) + 1;
    unique_malloc_string copy(static_cast<char*>(std::malloc(size)));
    if (copy) std::memcpy(copy.get(), bytes, size);
    return copy;
}

} // namespace dovrikna

#endif
