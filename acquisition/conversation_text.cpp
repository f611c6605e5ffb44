#include "acquisition/conversation_text.h"

#include "acquisition/twain_messages.h"

namespace dovrikna {

namespace {

struct Name {
    unsigned value;
    const char* text;
};

template <std::size_t N>
void name(LogLine& line, const Name (&names)[N], unsigned value)
{
    for (const Name& entry : names)
        if (entry.value == value) {
            line.text(entry.text);
            return;
        }
    line.hex(value);
}

const Name kGroups[] = {{DG_CONTROL, "CONTROL"}, {DG_IMAGE, "IMAGE"}, {0x4, "AUDIO"}};

const Name kDats[] = {
    {DAT_CAPABILITY, "CAPABILITY"}, {DAT_EVENT, "EVENT"}, {DAT_IDENTITY, "IDENTITY"},
    {DAT_PARENT, "PARENT"}, {DAT_PENDINGXFERS, "PENDINGXFERS"}, {0x6, "SETUPMEMXFER"},
    {DAT_SETUPFILEXFER, "SETUPFILEXFER"}, {DAT_STATUS, "STATUS"}, {DAT_USERINTERFACE, "USERINTERFACE"},
    {0xA, "XFERGROUP"}, {DAT_IMAGEINFO, "IMAGEINFO"}, {0x102, "IMAGELAYOUT"}, {0x103, "IMAGEMEMXFER"},
    {0x104, "IMAGENATIVEXFER"}, {DAT_IMAGEFILEXFER, "IMAGEFILEXFER"},
};

const Name kMsgs[] = {
    {MSG_NULL, "NULL"}, {MSG_GET, "GET"}, {0x2, "GETCURRENT"}, {MSG_GETDEFAULT, "GETDEFAULT"},
    {0x4, "GETFIRST"}, {0x5, "GETNEXT"}, {MSG_SET, "SET"}, {MSG_RESET, "RESET"}, {0x8, "QUERYSUPPORT"},
    {MSG_XFERREADY, "XFERREADY"}, {MSG_CLOSEDSREQ, "CLOSEDSREQ"}, {MSG_CLOSEDSOK, "CLOSEDSOK"},
    {0x104, "DEVICEEVENT"}, {MSG_OPENDSM, "OPENDSM"}, {MSG_CLOSEDSM, "CLOSEDSM"}, {MSG_OPENDS, "OPENDS"},
    {MSG_CLOSEDS, "CLOSEDS"}, {MSG_USERSELECT, "USERSELECT"}, {MSG_DISABLEDS, "DISABLEDS"},
    {MSG_ENABLEDS, "ENABLEDS"}, {0x503, "ENABLEDSUIONLY"}, {MSG_PROCESSEVENT, "PROCESSEVENT"},
    {MSG_ENDXFER, "ENDXFER"}, {0x702, "STOPFEEDER"},
};

const Name kReturnCodes[] = {
    {TWRC_SUCCESS, "SUCCESS"}, {TWRC_FAILURE, "FAILURE"}, {TWRC_CHECKSTATUS, "CHECKSTATUS"},
    {TWRC_CANCEL, "CANCEL"}, {TWRC_DSEVENT, "DSEVENT"}, {TWRC_NOTDSEVENT, "NOTDSEVENT"},
    {TWRC_XFERDONE, "XFERDONE"}, {7, "ENDOFLIST"}, {8, "INFONOTSUPPORTED"}, {9, "DATANOTAVAILABLE"},
};

const Name kConditions[] = {
    {0, "SUCCESS"}, {1, "BUMMER"}, {2, "LOWMEMORY"}, {3, "NODS"}, {4, "MAXCONNECTIONS"},
    {5, "OPERATIONERROR"}, {6, "BADCAP"}, {9, "BADPROTOCOL"}, {10, "BADVALUE"}, {11, "SEQERROR"},
    {12, "BADDEST"}, {13, "CAPUNSUPPORTED"}, {14, "CAPBADOPERATION"}, {15, "CAPSEQERROR"},
    {16, "DENIED"}, {17, "FILEEXISTS"}, {18, "FILENOTFOUND"}, {19, "NOTEMPTY"}, {20, "PAPERJAM"},
    {21, "PAPERDOUBLEFEED"}, {22, "FILEWRITEERROR"}, {23, "CHECKDEVICEONLINE"},
};

const Name kCapabilities[] = {
    {ICAP_XFERMECH, "XFERMECH"}, {ICAP_IMAGEFILEFORMAT, "IMAGEFILEFORMAT"}, {ICAP_PIXELFLAVOR, "PIXELFLAVOR"},
};

const Name kFlavors[] = {{TWPF_CHOCOLATE, "CHOCOLATE"}, {TWPF_VANILLA, "VANILLA"}};

const Name kContainers[] = {
    {TWON_ARRAY, "ARRAY"}, {TWON_ENUMERATION, "ENUMERATION"}, {TWON_ONEVALUE, "ONEVALUE"}, {TWON_RANGE, "RANGE"},
};

const Name kMechanisms[] = {{TWSX_NATIVE, "NATIVE"}, {TWSX_FILE, "FILE"}, {TWSX_MEMORY, "MEMORY"}};

const Name kFormats[] = {
    {TWFF_TIFF, "TIFF"}, {TWFF_PICT, "PICT"}, {TWFF_BMP, "BMP"}, {TWFF_XBM, "XBM"}, {TWFF_JFIF, "JFIF"},
    {TWFF_FPX, "FPX"}, {TWFF_TIFFMULTI, "TIFFMULTI"}, {TWFF_PNG, "PNG"}, {8, "SPIFF"}, {9, "EXIF"},
    {10, "PDF"}, {11, "JP2"}, {13, "JPX"}, {14, "DEJAVU"}, {15, "PDFA"},
};

const Name kMessages[] = {
    {TWM_LIBRARY_UNLOADING, "LIBRARY_UNLOADING"}, {TWM_SELECT_SOURCE, "SELECT_SOURCE"},
    {TWM_SELECT_DONE, "SELECT_DONE"}, {TWM_SELECT_FAILED, "SELECT_FAILED"}, {TWM_ACQUIRE, "ACQUIRE"},
    {TWM_NEXT_FILE, "NEXT_FILE"}, {TWM_FILE_READY, "FILE_READY"}, {TWM_ACQUIRE_DONE, "ACQUIRE_DONE"},
    {TWM_ACQUIRE_CANCELLED, "ACQUIRE_CANCELLED"}, {TWM_ACQUIRE_FAILED, "ACQUIRE_FAILED"},
};

void identity(LogLine& line, const TW_IDENTITY& source)
{
    line.text("Id ").number(source.Id).text(" ").quoted(source.ProductName, sizeof source.ProductName);
    line.text(" by ").quoted(source.Manufacturer, sizeof source.Manufacturer);
    line.text(" version ").number(source.Version.MajorNum).text(".").number(source.Version.MinorNum);
    line.text(" ").quoted(source.Version.Info, sizeof source.Version.Info);
    line.text(" protocol ").number(source.ProtocolMajor).text(".").number(source.ProtocolMinor);
}

void capability(LogLine& line, const DsmCallRecord& call)
{
    const auto& record = *static_cast<const TW_CAPABILITY*>(call.data);
    line.text(" ");
    name(line, kCapabilities, record.Cap);
    // A set tells what it offered, taken or not.
    if (call.rc != TWRC_SUCCESS && call.msg != MSG_SET) return;
    line.text(" ");
    name(line, kContainers, record.ConType);
    line.text(" [");
    for (std::size_t i = 0; i < call.itemCount; ++i) {
        if (i) line.text(",");
        if (record.Cap == ICAP_XFERMECH)
            name(line, kMechanisms, call.items[i]);
        else if (record.Cap == ICAP_IMAGEFILEFORMAT)
            name(line, kFormats, call.items[i]);
        else if (record.Cap == ICAP_PIXELFLAVOR)
            name(line, kFlavors, call.items[i]);
        else
            line.number(call.items[i]);
    }
    line.text("]");
}

// The fields of the record that tell what the call asked or was answered.
void fields(LogLine& line, const DsmCallRecord& call)
{
    if (!call.data) return;
    switch (call.dat) {
    case DAT_PARENT:
        line.text(" window ").hex(reinterpret_cast<unsigned long long>(*static_cast<void* const*>(call.data)));
        break;
    case DAT_IDENTITY:
        // A selection that failed left nothing worth reading in the record.
        if (call.rc == TWRC_SUCCESS || call.msg == MSG_OPENDS || call.msg == MSG_CLOSEDS) {
            line.text(" ");
            identity(line, *static_cast<const TW_IDENTITY*>(call.data));
        }
        break;
    case DAT_USERINTERFACE: {
        const auto& ui = *static_cast<const TW_USERINTERFACE*>(call.data);
        line.text(" ShowUI ").number(ui.ShowUI).text(" ModalUI ").number(ui.ModalUI);
        line.text(" parent ").hex(reinterpret_cast<unsigned long long>(ui.hParent));
        break;
    }
    case DAT_CAPABILITY:
        capability(line, call);
        break;
    case DAT_EVENT: {
        const auto& event = *static_cast<const TW_EVENT*>(call.data);
        line.text(" ");
        name(line, kMsgs, event.TWMessage);
        break;
    }
    case DAT_IMAGEINFO:
        if (call.rc == TWRC_SUCCESS) {
            const auto& info = *static_cast<const TW_IMAGEINFO*>(call.data);
            line.text(" ").signedNumber(info.ImageWidth).text("x").signedNumber(info.ImageLength);
            line.text(" bits ").signedNumber(info.BitsPerPixel).text(" pixel type ").signedNumber(info.PixelType);
            line.text(" dpi ").signedNumber(info.XResolution.Whole);
        }
        break;
    case DAT_SETUPFILEXFER: {
        const auto& setup = *static_cast<const TW_SETUPFILEXFER*>(call.data);
        line.text(" ").quoted(setup.FileName, sizeof setup.FileName).text(" format ");
        name(line, kFormats, setup.Format);
        break;
    }
    case DAT_SETUPMEMXFER:
        if (call.rc == TWRC_SUCCESS) {
            const auto& setup = *static_cast<const TW_SETUPMEMXFER*>(call.data);
            line.text(" MinBufSize ").number(setup.MinBufSize).text(" MaxBufSize ").number(setup.MaxBufSize);
            line.text(" Preferred ").number(setup.Preferred);
        }
        break;
    case DAT_IMAGEMEMXFER:
        if (call.rc == TWRC_SUCCESS || call.rc == TWRC_XFERDONE) {
            const auto& strip = *static_cast<const TW_IMAGEMEMXFER*>(call.data);
            line.text(" rows ").number(strip.YOffset).text("+").number(strip.Rows);
            line.text(" BytesPerRow ").number(strip.BytesPerRow).text(" Compression ").number(strip.Compression);
        }
        break;
    case DAT_PENDINGXFERS:
        line.text(" Count ").number(static_cast<const TW_PENDINGXFERS*>(call.data)->Count);
        break;
    default:
        break;
    }
}

} // namespace

void describeDsmCall(LogLine& line, const DsmCallRecord& call)
{
    line.text("DSM ");
    name(line, kGroups, call.group);
    line.text("/");
    name(line, kDats, call.dat);
    line.text("/");
    name(line, kMsgs, call.msg);
    if (call.dest)
        line.text(" to source ").quoted(call.dest->ProductName, sizeof call.dest->ProductName);
    else
        line.text(" to manager");
    fields(line, call);
    line.text(" -> ");
    name(line, kReturnCodes, call.rc);
    if (call.hasCondition) {
        line.text(", condition ");
        name(line, kConditions, call.condition);
        line.text(" (").number(call.condition).text(")");
    }
}

void describePagePlan(LogLine& line, TW_UINT16 chosen, bool accepted, PagePlan plan)
{
    line.text("transfer mechanism ");
    if (chosen == kNoMechanism) {
        line.text("not set: the source listed none");
    } else {
        name(line, kMechanisms, chosen);
        line.text(accepted ? " set" : " refused");
    }
    line.text(": pages by ");
    switch (plan) {
    case PagePlan::FileThenNative:
        line.text("file, else natively");
        break;
    case PagePlan::Memory:
        line.text("memory, else natively");
        break;
    case PagePlan::Native:
        line.text("native transfer");
        break;
    }
}

void describeMessage(LogLine& line, unsigned message)
{
    name(line, kMessages, message);
}

} // namespace dovrikna
