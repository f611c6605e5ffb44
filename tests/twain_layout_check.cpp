// Compiled, never run: our TWAIN records against Wine's twain.h, field by
// field, for the architecture of this build. A record that drifts from the
// published layout stops the build here rather than corrupting a scan.
// Ours first: twain.h's macros (DG_CONTROL and the like) would stand in for
// the names of our constants.
#include "acquisition/twain_types.h"

#include <cstddef>

#include <windows.h>
#ifndef DECLSPEC_EXPORT // Wine's own; its DS_Entry declaration uses it
#define DECLSPEC_EXPORT __declspec(dllexport)
#endif
// A copy of Wine's header in the build folder, so that its own includes find
// the compiler's Windows headers rather than Wine's.
#include "twain.h"

namespace ours = dovrikna;

#define SAME_SIZE(record) \
    static_assert(sizeof(ours::record) == sizeof(::record), #record " differs in size from twain.h")
#define SAME_OFFSET(record, field) \
    static_assert(offsetof(ours::record, field) == offsetof(::record, field), \
                  #record "." #field " differs in place from twain.h")

SAME_SIZE(TW_FIX32);
SAME_SIZE(TW_VERSION);
SAME_OFFSET(TW_VERSION, Info);
SAME_SIZE(TW_IDENTITY);
SAME_OFFSET(TW_IDENTITY, Version);
SAME_OFFSET(TW_IDENTITY, ProtocolMajor);
SAME_OFFSET(TW_IDENTITY, SupportedGroups);
SAME_OFFSET(TW_IDENTITY, Manufacturer);
SAME_OFFSET(TW_IDENTITY, ProductFamily);
SAME_OFFSET(TW_IDENTITY, ProductName);
SAME_SIZE(TW_USERINTERFACE);
SAME_OFFSET(TW_USERINTERFACE, hParent);
SAME_SIZE(TW_SETUPFILEXFER);
SAME_OFFSET(TW_SETUPFILEXFER, Format);
SAME_OFFSET(TW_SETUPFILEXFER, VRefNum);
SAME_SIZE(TW_PENDINGXFERS);
static_assert(offsetof(ours::TW_PENDINGXFERS, Reserved) == offsetof(::TW_PENDINGXFERS, u),
              "TW_PENDINGXFERS.Reserved differs in place from twain.h");
SAME_SIZE(TW_CAPABILITY);
SAME_OFFSET(TW_CAPABILITY, ConType);
SAME_OFFSET(TW_CAPABILITY, hContainer);
SAME_SIZE(TW_EVENT);
SAME_OFFSET(TW_EVENT, TWMessage);
SAME_SIZE(TW_ONEVALUE);
SAME_OFFSET(TW_ONEVALUE, Item);
SAME_SIZE(TW_ARRAY);
SAME_OFFSET(TW_ARRAY, NumItems);
SAME_OFFSET(TW_ARRAY, ItemList);
SAME_SIZE(TW_ENUMERATION);
SAME_OFFSET(TW_ENUMERATION, NumItems);
SAME_OFFSET(TW_ENUMERATION, CurrentIndex);
SAME_OFFSET(TW_ENUMERATION, DefaultIndex);
SAME_OFFSET(TW_ENUMERATION, ItemList);
SAME_SIZE(TW_IMAGEINFO);
SAME_OFFSET(TW_IMAGEINFO, ImageWidth);
SAME_OFFSET(TW_IMAGEINFO, SamplesPerPixel);
SAME_OFFSET(TW_IMAGEINFO, BitsPerPixel);
SAME_OFFSET(TW_IMAGEINFO, Compression);
SAME_SIZE(TW_SETUPMEMXFER);
SAME_OFFSET(TW_SETUPMEMXFER, MaxBufSize);
SAME_OFFSET(TW_SETUPMEMXFER, Preferred);
SAME_SIZE(TW_MEMORY);
SAME_OFFSET(TW_MEMORY, Length);
SAME_OFFSET(TW_MEMORY, TheMem);
SAME_SIZE(TW_IMAGEMEMXFER);
SAME_OFFSET(TW_IMAGEMEMXFER, BytesPerRow);
SAME_OFFSET(TW_IMAGEMEMXFER, Columns);
SAME_OFFSET(TW_IMAGEMEMXFER, Rows);
SAME_OFFSET(TW_IMAGEMEMXFER, XOffset);
SAME_OFFSET(TW_IMAGEMEMXFER, YOffset);
SAME_OFFSET(TW_IMAGEMEMXFER, BytesWritten);
SAME_OFFSET(TW_IMAGEMEMXFER, Memory);
