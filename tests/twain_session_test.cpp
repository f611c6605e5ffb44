// The TWAIN session driven directly on the test thread, which plays
// TwainWorker, against the scripted stand-in manager.
// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "acquisition/in_process_requests.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_session_state.h"
#include "twain_test_support.h"

// windows.h defines STATUS_PENDING as an NTSTATUS; here it is the status word's value.
#undef STATUS_PENDING

namespace {

using namespace dovrikna;
using namespace standin;
using namespace twaintest;
using Names = std::vector<std::string>;

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dsm.load()) << "the stand-in TWAIN_32.DLL beside the test program";
        script = dsm.script();
        temp = useFreshTempDirectory("session");
        owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, owner);
    }

    void TearDown() override
    {
        deleteSession();
        EXPECT_EQ("", problemsOf(dsm));
        EXPECT_EQ(0, dsm.liveContainers()) << "capability containers the library did not free";
    }

    // The calls logged since `mark()`, by name.
    size_t mark() { return loggedCalls(dsm).size(); }
    Names namesSince(size_t from)
    {
        auto calls = loggedCalls(dsm);
        calls.erase(calls.begin(), calls.begin() + std::min(from, calls.size()));
        return callNames(calls);
    }
    std::vector<Call> callsNamed(const std::string& name)
    {
        std::vector<Call> found;
        for (const Call& call : loggedCalls(dsm))
            if (callName(call) == name) found.push_back(call);
        return found;
    }

    // TwainWorker's loop over what is queued for this thread.
    void pumpWorker()
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) handleInProcessMessage(message);
    }

    // A request as the natives post it.
    void post(UINT request) { PostThreadMessageA(GetCurrentThreadId(), request, kRequestMark, 0); }

    // The user presses the source's scan button.
    void scan()
    {
        ASSERT_NE(nullptr, dsm.sourceWindow()) << "the source is not enabled";
        PostMessageA(dsm.sourceWindow(), kScanButton, 0, 0);
        pumpWorker();
    }

    void acquire()
    {
        post(TWM_ACQUIRE);
        pumpWorker();
    }

    // The Java side: the status as queryImageFile0 takes it, and the path.
    int takeStatus() { return acquisitionStatus.exchange(STATUS_IDLE); }
    std::string takeFile()
    {
        std::string path = readNameBlock();
        post(TWM_NEXT_FILE);
        pumpWorker();
        return path;
    }

    // Hands over every file until the acquisition is over; the paths in order.
    // The session keeps the names of the pages not yet taken only, so that a
    // long session does not grow with every page.
    std::vector<std::string> takeAllFiles(int limit = 10)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < limit; ++i) {
            int status = takeStatus();
            if (status == STATUS_FINISHED) {
                EXPECT_EQ(nullptr, currentSession->files.head) << "names kept after " << paths.size() << " files";
                return paths;
            }
            if (status != STATUS_SIGNALLED) {
                ADD_FAILURE() << "status " << status << " after " << paths.size() << " files";
                return paths;
            }
            paths.push_back(takeFile());
            if (currentSession->handOverOpen)
                EXPECT_EQ(currentSession->currentFile, currentSession->files.head) << "names kept after " << paths.back();
        }
        ADD_FAILURE() << "no end after " << limit << " files";
        return paths;
    }

    void setTransfers(std::initializer_list<Transfer> transfers)
    {
        script->transferCount = 0;
        for (const Transfer& transfer : transfers) script->transfers[script->transferCount++] = transfer;
    }

    TwainStandin dsm;
    DWORD mainThread = GetCurrentThreadId();
    Script* script = nullptr;
    std::string temp;
    HWND owner = nullptr;
};

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Transfer done(TW_UINT16 count) { return {TWRC_SUCCESS, TWRC_XFERDONE, TWRC_SUCCESS, count, 1, "", 0}; }
Transfer cancelled(TW_UINT16 count) { return {TWRC_SUCCESS, TWRC_CANCEL, TWRC_SUCCESS, count, 0, "", 0}; }
Transfer failed(TW_UINT16 count) { return {TWRC_SUCCESS, TWRC_FAILURE, TWRC_SUCCESS, count, 0, "", 0}; }

// A page the source will not transfer as a file, and hands over natively.
Transfer notAsFile(TW_UINT16 count, NativeImage image)
{
    Transfer transfer = failed(count);
    transfer.native = image;
    return transfer;
}

std::uint32_t le32(const std::string& bytes, size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// The BMP file shows the source's image of the page: its palette, and its
// rows bottom-up.
void expectBmpOf(const std::string& path, const NativeImage& image, int page)
{
    const std::string file = contentsOf(path);
    ASSERT_GE(file.size(), 54u) << path;
    EXPECT_EQ("BM", file.substr(0, 2));
    EXPECT_EQ(file.size(), le32(file, 2));
    const long rows = image.height < 0 ? -image.height : image.height;
    const long colors = image.colorsUsed ? image.colorsUsed : image.bits <= 8 ? 1L << image.bits : 0;
    const long stride = (long(image.width) * image.bits + 31) / 32 * 4;
    ASSERT_EQ(54 + colors * 4, long(le32(file, 10)));
    EXPECT_EQ(rows, long(le32(file, 22))) << "bottom-up";
    EXPECT_EQ(image.bits, static_cast<unsigned char>(file[28]));
    ASSERT_EQ(le32(file, 10) + stride * rows, file.size());

    const std::vector<unsigned char> dib = nativeDib(image, page);
    EXPECT_EQ(std::string(dib.begin() + 40, dib.begin() + 40 + colors * 4), file.substr(54, colors * 4))
        << "the palette";
    const unsigned char* pixels = dib.data() + 40 + colors * 4;
    const long meaningful = long(image.width) * image.bits / 8; // whole bytes of each row
    for (long row = 0; row < rows; ++row) {
        long from = image.height < 0 ? rows - 1 - row : row;
        ASSERT_EQ(std::string(pixels + from * stride, pixels + from * stride + meaningful),
                  file.substr(le32(file, 10) + row * stride, meaningful))
            << "row " << row << " from the bottom";
        // A bitmap's rows come padded as GetDIBits pads them, whatever its memory holds there.
        if (image.kind == 2 && image.bits == 24)
            ASSERT_EQ(std::string(stride - meaningful, '\0'),
                      file.substr(le32(file, 10) + row * stride + meaningful, stride - meaningful))
                << "padding of row " << row;
    }
}

const Names kOpenAndEnable = {"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"};
const Names kCapabilities = {"PROCESSEVENT", "GET XFERMECH", "GET IMAGEFILEFORMAT"};
const Names kTransfer = {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER", "ENDXFER"};
const Names kFinish = {"DISABLEDS", "CLOSEDS", "CLOSEDSM"};

Names concat(std::initializer_list<Names> parts)
{
    Names all;
    for (const Names& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(Session, OpenDsmPresentsTheApplicationIdentityAndTheOwnerWindow)
{
    createSession(owner);
    openDsm();
    auto calls = loggedCalls(dsm);
    ASSERT_EQ(1u, calls.size());
    const Call& call = calls[0];
    EXPECT_EQ("OPENDSM", callName(call));
    EXPECT_EQ(owner, call.parent);
    EXPECT_EQ(GetCurrentThreadId(), call.thread);

    TW_IDENTITY expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Version = {1, 703, 13, 1, "quenLark 1.0  07/29/2002"};
    expected.ProtocolMajor = 1;
    expected.ProtocolMinor = 7;
    expected.SupportedGroups = 3;
    std::strcpy(expected.Manufacturer, "quenLark");
    std::strcpy(expected.ProductFamily, "DOZAV Urir Odov");
    std::strcpy(expected.ProductName, "quenLark");
    const TW_IDENTITY& sent = call.origin;
    EXPECT_EQ(0u, sent.Id);
    EXPECT_EQ(1, sent.Version.MajorNum);
    EXPECT_EQ(703, sent.Version.MinorNum);
    EXPECT_EQ(13, sent.Version.Language);
    EXPECT_EQ(1, sent.Version.Country);
    EXPECT_STREQ("quenLark 1.0  07/29/2002", sent.Version.Info);
    EXPECT_EQ(1, sent.ProtocolMajor);
    EXPECT_EQ(7, sent.ProtocolMinor);
    EXPECT_EQ(3u, sent.SupportedGroups);
    EXPECT_STREQ("quenLark", sent.Manufacturer);
    EXPECT_STREQ("DOZAV Urir Odov", sent.ProductFamily);
    EXPECT_STREQ("quenLark", sent.ProductName);
    EXPECT_EQ(0, std::memcmp(&expected, &sent, sizeof expected)) << "bytes after the terminators are zero";
}

TEST_F(Session, SelectionChosenThenCancelledKeepsTheFirstSource)
{
    createSession(owner);
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM"}), namesSince(0));
    Call select = callsNamed("USERSELECT").at(0);
    EXPECT_EQ(0u, select.identityIn.Id);
    EXPECT_STREQ("", select.identityIn.ProductName);
    EXPECT_STREQ("Standin Scanner", currentSession->sourceIdentity.ProductName);
    EXPECT_EQ(0, currentSession->dsmOpen);

    script->userSelect = TWRC_CANCEL;
    std::strcpy(script->userSourceName, "Other");
    size_t from = mark();
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ(STATUS_SIGNALLED, acquisitionStatus.load());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM"}), namesSince(from));

    // The next acquisition opens the earlier source without asking for the default.
    from = mark();
    acquire();
    EXPECT_EQ((Names{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(from));
    EXPECT_STREQ("Standin Scanner", callsNamed("OPENDS").at(0).identityIn.ProductName);
    EXPECT_STREQ("Standin Scanner", callsNamed("ENABLEDS").at(0).dest);
}

TEST_F(Session, FirstAcquisitionAsksForTheDefaultSourceLaterOnesDoNot)
{
    createSession(owner);
    acquire();
    EXPECT_EQ(kOpenAndEnable, namesSince(0));
    scan();
    EXPECT_EQ(STATUS_SIGNALLED, takeStatus());
    takeFile();
    EXPECT_EQ(STATUS_FINISHED, takeStatus());

    size_t from = mark();
    acquire();
    EXPECT_EQ((Names{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(from));
    EXPECT_STREQ("Standin Default", callsNamed("OPENDS").at(1).identityIn.ProductName);
}

TEST_F(Session, EnableAndDisableCarryTheirUserInterfaceRecords)
{
    createSession(owner);
    acquire();
    scan();
    Call enable = callsNamed("ENABLEDS").at(0);
    EXPECT_EQ(1, enable.showUI);
    EXPECT_EQ(0, enable.modalUI);
    EXPECT_EQ(owner, enable.parent);
    Call disable = callsNamed("DISABLEDS").at(0);
    EXPECT_EQ(255, disable.showUI);
    EXPECT_EQ(0, disable.modalUI);
    EXPECT_EQ(owner, disable.parent);
    EXPECT_EQ(0, currentSession->sourceEnabled);
    EXPECT_EQ(0, currentSession->sourceOpen);
    EXPECT_EQ(0, currentSession->dsmOpen);
}

TEST_F(Session, AcquisitionThatCannotStartIsReportedFailedAndLeavesWhatOpenedOpen)
{
    struct Case {
        TW_UINT16 Script::*refused;
        Names calls;
        BOOL dsmOpen, sourceOpen;
    } cases[] = {
        {&Script::getDefault, {"OPENDSM", "GETDEFAULT"}, 1, 0},             // no source installed
        {&Script::openDs, {"OPENDSM", "GETDEFAULT", "OPENDS"}, 1, 0},       // scanner switched off
        {&Script::enableDs, {"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}, 1, 1},
    };
    for (const Case& c : cases) {
        createSession(owner);
        const size_t from = mark();
        script->*c.refused = TWRC_FAILURE;
        acquisitionStatus.store(STATUS_PENDING);
        acquire();
        script->*c.refused = TWRC_SUCCESS;
        EXPECT_EQ(c.calls, namesSince(from));
        EXPECT_EQ(STATUS_FINISHED, takeStatus()) << c.calls.back() << " refused";
        EXPECT_EQ(c.dsmOpen, currentSession->dsmOpen) << c.calls.back();
        EXPECT_EQ(c.sourceOpen, currentSession->sourceOpen) << c.calls.back();
        // The test plays the user who gives up: what opened is closed.
        closeSource();
        closeDsm();
        deleteSession();
    }
}

TEST_F(Session, ManagerLeftOpenWithoutADefaultSourceServesTheNextRequests)
{
    // No default source leaves the manager open; the user then chooses one.
    // An open manager is not opened a second time (a manager refuses that,
    // which would leave it open behind a cleared flag for good).
    createSession(owner);
    script->getDefault = TWRC_FAILURE;
    acquire();
    ASSERT_EQ(1, currentSession->dsmOpen);
    size_t from = mark();
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ((Names{"USERSELECT", "CLOSEDSM"}), namesSince(from));
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());
    EXPECT_EQ(0, currentSession->dsmOpen);

    from = mark();
    acquire();
    EXPECT_EQ((Names{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(from));
    scan();
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.tif"}), takeAllFiles());
}

TEST_F(Session, SelectionWhileASourceIsUpKeepsItAndItsManagerOpenAndTakesEffectAfter)
{
    createSession(owner);
    acquire();
    size_t from = mark();
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ((Names{"USERSELECT"}), namesSince(from)) << "the manager stays open for the open source";
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());
    EXPECT_EQ(1, currentSession->dsmOpen);

    scan();
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.tif"}), takeAllFiles());
    auto closes = callsNamed("CLOSEDS");
    ASSERT_EQ(1u, closes.size());
    EXPECT_STREQ("Standin Default", closes[0].identityIn.ProductName) << "the open source is closed";
    EXPECT_EQ(0, currentSession->dsmOpen);

    from = mark();
    acquire();
    EXPECT_EQ((Names{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(from));
    EXPECT_STREQ("Standin Scanner", callsNamed("OPENDS").back().identityIn.ProductName)
        << "the chosen source is used from the next acquisition on";
}

TEST_F(Session, SourceChosenAfterOneThatWouldNotEnableReplacesItAtTheNextAcquisition)
{
    createSession(owner);
    script->enableDs = TWRC_FAILURE;
    acquire();
    ASSERT_EQ(1, currentSession->sourceOpen);
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());

    script->enableDs = TWRC_SUCCESS;
    size_t from = mark();
    acquire();
    EXPECT_EQ((Names{"CLOSEDS", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(from));
    EXPECT_STREQ("Standin Default", callsNamed("CLOSEDS").back().identityIn.ProductName);
    EXPECT_STREQ("Standin Scanner", callsNamed("OPENDS").back().identityIn.ProductName);
    scan();
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.tif"}), takeAllFiles());
}

TEST_F(Session, RefusedCloseShowsTheCloseMessageOnceAndASecondCloseMakesNoCall)
{
    BoxCloser boxes;
    createSession(owner);
    script->closeDsm = TWRC_FAILURE;
    openDsm();
    closeDsm();
    EXPECT_TRUE(boxes.waitFor(1));
    EXPECT_EQ((Names{"Failed to close data source manager."}), boxes.texts());
    EXPECT_EQ(0, currentSession->dsmOpen);
    size_t from = mark();
    closeDsm();
    EXPECT_EQ(Names{}, namesSince(from));
    EXPECT_EQ(1u, boxes.texts().size());
}

TEST_F(Session, RefusedOpenShowsTheConnectMessageAndSkipsEverythingAfter)
{
    // The failure is reported once the user has closed the message.
    std::vector<int> statusWhileShown;
    BoxCloser boxes([&](const std::string&) { statusWhileShown.push_back(acquisitionStatus.load()); });
    createSession(owner);
    script->openDsm = TWRC_FAILURE;
    acquisitionStatus.store(STATUS_PENDING);
    acquire();
    EXPECT_EQ((Names{"OPENDSM"}), namesSince(0));
    EXPECT_TRUE(boxes.waitFor(1));
    EXPECT_EQ((Names{"Failed to connect to data source manager."}), boxes.texts());
    EXPECT_EQ(std::vector<int>{STATUS_PENDING}, statusWhileShown);
    EXPECT_FALSE(chooseSource(false));
    EXPECT_EQ(STATUS_FINISHED, takeStatus());

    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ(STATUS_SIGNALLED, acquisitionStatus.load());
    EXPECT_TRUE(boxes.waitFor(2));
    EXPECT_EQ(2u, boxes.texts().size());
}

TEST_F(Session, GuardsMakeNoCallsOutOfOrder)
{
    createSession(owner);
    EXPECT_FALSE(disableSource());
    EXPECT_FALSE(closeSource());
    EXPECT_FALSE(chooseSource(true));
    closeDsm();
    openDsm();
    EXPECT_FALSE(enableSource());
    EXPECT_FALSE(disableSource());
    EXPECT_FALSE(closeSource());
    EXPECT_EQ((Names{"OPENDSM"}), namesSince(0));

    // A second createSession changes nothing.
    TwainSession* first = currentSession;
    HMODULE module = first->dsmModule;
    createSession(nullptr);
    EXPECT_EQ(first, currentSession);
    EXPECT_EQ(owner, currentSession->ownerWindow);
    EXPECT_EQ(module, currentSession->dsmModule);
}

TEST_F(Session, DeletingTheSessionClosesAnOpenManagerAndDestroysTheOwner)
{
    createSession(owner);
    openDsm();
    deleteSession();
    EXPECT_EQ(nullptr, currentSession);
    EXPECT_EQ((Names{"OPENDSM", "CLOSEDSM"}), namesSince(0));
    EXPECT_FALSE(IsWindow(owner));
    EXPECT_EQ(nullptr, dsmEntry) << "the manager was freed";
}

TEST_F(Session, MessagesAreOfferedOnlyWhileTheSourceIsEnabled)
{
    createSession(owner);
    MSG message = {owner, WM_USER + 100, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(filterEvent(message));
    EXPECT_EQ(0u, loggedCalls(dsm).size()) << "offered with no source enabled";

    acquire();
    MSG forSource = {dsm.sourceWindow(), WM_MOUSEMOVE, 0, 0, 0, {0, 0}};
    EXPECT_TRUE(filterEvent(forSource));
    EXPECT_FALSE(filterEvent(message));

    // After the batch has closed the source and the manager, the worker's
    // further messages are not the manager's to see.
    scan();
    EXPECT_EQ(STATUS_SIGNALLED, takeStatus());
    for (int i = 0; i < 20; ++i) post(WM_USER + 100);
    takeFile();
    auto calls = loggedCalls(dsm);
    auto closed = std::find_if(calls.begin(), calls.end(), [](const Call& c) { return callName(c) == "CLOSEDSM"; });
    ASSERT_NE(calls.end(), closed);
    EXPECT_EQ(0, std::count_if(closed, calls.end(), [](const Call& c) { return callName(c) == "PROCESSEVENT"; }))
        << "MSG_PROCESSEVENT calls after MSG_CLOSEDSM";
}

TEST_F(Session, OnePageIsPublishedDuringTheBatchAndHandedOverOnce)
{
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, kTransfer, kFinish}), namesSince(0));

    Call setup = callsNamed("SETUPFILEXFER SET").at(0);
    EXPECT_EQ(temp + "kel0.tif", setup.fileName);
    EXPECT_EQ(TWFF_TIFF, setup.format);
    EXPECT_EQ(0, setup.vRefNum);
    Call end = callsNamed("ENDXFER").at(0);
    EXPECT_EQ(0, end.countIn);
    Call event = callsNamed("PROCESSEVENT").at(0);
    for (const Call& call : callsNamed("PROCESSEVENT"))
        if (call.rc == TWRC_DSEVENT) event = call;
    EXPECT_EQ(MSG_NULL, event.twMessageIn);
    EXPECT_EQ(MSG_XFERREADY, event.twMessageOut);
    Call formats = callsNamed("GET IMAGEFILEFORMAT").at(0);
    Call mechanisms = callsNamed("GET XFERMECH").at(0);
    EXPECT_EQ(0, mechanisms.conType);
    EXPECT_EQ(nullptr, mechanisms.container);
    EXPECT_EQ(TWON_ENUMERATION, formats.conType) << "the same record, only Cap changed";
    EXPECT_EQ(nullptr, formats.container) << "the freed handle of the first answer is not passed on";

    EXPECT_EQ(STATUS_SIGNALLED, takeStatus());
    EXPECT_EQ(temp + "kel0.tif", takeFile());
    EXPECT_TRUE(fileExists(temp + "kel0.tif"));
    EXPECT_EQ(STATUS_FINISHED, takeStatus());
    EXPECT_EQ(nullptr, currentSession->nameWriter) << "the writer is dropped after the last report";
    EXPECT_EQ("", readNameBlock()) << "no handle of the block is left open";
}

TEST_F(Session, ThreePagesWithCountTwoAfterTheFirst)
{
    // The second page shows a box, during which the Java side looks.
    int statusDuringPage2 = -1;
    std::string pathDuringPage2;
    BoxCloser boxes([&](const std::string&) {
        statusDuringPage2 = acquisitionStatus.load();
        pathDuringPage2 = readNameBlock();
    });
    Transfer second = done(1);
    second.modal = 1;
    setTransfers({done(2), second, done(0)});
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(STATUS_SIGNALLED, statusDuringPage2) << "the first file is published before the second transfer";
    EXPECT_EQ(temp + "kel0.tif", pathDuringPage2);
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, kTransfer, kTransfer, kTransfer, kFinish}), namesSince(0));
    auto ends = callsNamed("ENDXFER");
    ASSERT_EQ(3u, ends.size());
    for (const Call& end : ends) EXPECT_EQ(0, end.countIn) << "TW_PENDINGXFERS is zeroed before MSG_ENDXFER";

    EXPECT_EQ((Names{temp + "kel0.tif", temp + "kel1.tif", temp + "kel2.tif"}), takeAllFiles());
}

struct BatchCase {
    const char* name;
    std::vector<Transfer> transfers;
    std::vector<const char*> handedOver; // file names in the temp directory
    int finalStatusRightAfterBatch;      // STATUS_FINISHED when nothing is handed over
    bool reset;                          // MSG_RESET of transfers left pending
    UINT pendingReport;                  // the report kept for the end of the hand-over
};

TEST_F(Session, EveryCompletedPageIsHandedOverAndTheLastReportTellsHowTheBatchEnded)
{
    // Each batch in its own acquisition of one session.
    const BatchCase cases[] = {
        {"done, cancelled", {done(1), cancelled(0)}, {"kel0.tif"}, STATUS_SIGNALLED, false, TWM_ACQUIRE_CANCELLED},
        {"done, done, cancelled", {done(2), done(1), cancelled(0)}, {"kel0.tif", "kel1.tif"}, STATUS_SIGNALLED, false, TWM_ACQUIRE_CANCELLED},
        {"cancelled, done", {cancelled(1), done(0)}, {"kel0.tif"}, STATUS_SIGNALLED, false, TWM_FILE_READY},
        {"cancelled", {cancelled(0)}, {}, STATUS_FINISHED, false, 0},
        {"0xFFFF, 0xFFFF, done", {done(0xFFFF), done(0xFFFF), done(0)}, {"kel0.tif", "kel1.tif", "kel2.tif"}, STATUS_SIGNALLED, false, TWM_FILE_READY},
        {"count too high", {done(5), done(0)}, {"kel0.tif", "kel1.tif"}, STATUS_SIGNALLED, false, TWM_FILE_READY},
        {"done, failed with pages left", {done(3), failed(2)}, {"kel0.tif"}, STATUS_SIGNALLED, true, TWM_ACQUIRE_FAILED},
        {"failed first", {failed(0)}, {}, STATUS_FINISHED, false, 0},
        {"unknown code", {done(1), {TWRC_SUCCESS, TWRC_CHECKSTATUS, TWRC_SUCCESS, 1, 0, "", 0}}, {"kel0.tif"}, STATUS_SIGNALLED, true, TWM_ACQUIRE_FAILED},
        {"image info fails", {done(1), {TWRC_FAILURE, TWRC_XFERDONE, TWRC_SUCCESS, 0, 0, "", 0}}, {"kel0.tif"}, STATUS_SIGNALLED, true, TWM_ACQUIRE_FAILED},
    };
    createSession(owner);
    for (const BatchCase& batch : cases) {
        SCOPED_TRACE(batch.name);
        std::string folder = useFreshTempDirectory("batch");
        script->transferCount = 0;
        for (const Transfer& transfer : batch.transfers) script->transfers[script->transferCount++] = transfer;
        size_t from = mark();
        acquire();
        scan();
        Names names = namesSince(from);
        EXPECT_EQ(kFinish, Names(names.end() - 3, names.end())) << "the source and the manager are brought down";
        EXPECT_EQ(batch.reset, std::count(names.begin(), names.end(), "RESET") == 1);
        EXPECT_EQ(batch.finalStatusRightAfterBatch, acquisitionStatus.load());
        if (batch.pendingReport) EXPECT_EQ(batch.pendingReport, currentSession->finalReport);

        std::vector<std::string> expected;
        for (const char* name : batch.handedOver) expected.push_back(folder + name);
        EXPECT_EQ(expected, takeAllFiles());
        for (const std::string& path : expected) EXPECT_TRUE(fileExists(path)) << path;
        EXPECT_EQ(nullptr, currentSession->nameWriter);
    }
}


Capability list(TW_UINT16 conType, std::initializer_list<TW_UINT16> items)
{
    Capability capability = {TWRC_SUCCESS, conType, static_cast<TW_UINT32>(items.size()), 0, {}};
    for (TW_UINT16 item : items) capability.items[capability.itemCount++] = item;
    return capability;
}

TEST_F(Session, FormatChoiceFollowsTheSourcesListsAcrossAcquisitions)
{
    struct Step {
        const char* name;
        Capability mechanisms;
        Capability formats;
        bool formatsAsked;
        TW_UINT16 format;
        const char* file;
    };
    Capability noList = {TWRC_FAILURE, 0, 0, 0, {}};
    Capability noContainer = list(TWON_ENUMERATION, {TWFF_PNG});
    noContainer.noContainer = 1;
    Capability lying = list(TWON_ENUMERATION, {TWFF_PNG});
    lying.numItems = 100000; // more than the container holds
    const Step steps[] = {
        // A new session without TWSX_FILE keeps TIFF; its pages come
        // natively, as the source asked for no file.
        {"native and memory only", list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_MEMORY}), list(TWON_ENUMERATION, {TWFF_BMP}), false, TWFF_TIFF, "kel0.bmp"},
        {"worked example", list(TWON_ENUMERATION, {TWSX_FILE}), list(TWON_ENUMERATION, {TWFF_BMP, TWFF_TIFF, TWFF_JFIF}), true, TWFF_JFIF, "kel0.jpg"},
        // Once TWSX_FILE was seen, every later source gets a format choice.
        {"later source without file transfer", list(TWON_ENUMERATION, {TWSX_NATIVE}), list(TWON_ENUMERATION, {TWFF_BMP}), true, TWFF_BMP, "kel1.bmp"},
        {"one value and array", list(TWON_ONEVALUE, {TWSX_FILE}), list(TWON_ARRAY, {TWFF_PNG, TWFF_JFIF}), true, TWFF_PNG, "kel0.png"},
        {"NumItems beyond the container", list(TWON_ENUMERATION, {TWSX_FILE}), lying, true, TWFF_PNG, "kel1.png"},
        {"formats not given", list(TWON_ENUMERATION, {TWSX_FILE}), noList, true, 0xFFFF, "kel0.tmp"},
        {"no known format", list(TWON_ENUMERATION, {TWSX_FILE}), list(TWON_ENUMERATION, {TWFF_PICT, TWFF_XBM}), true, 0xFFFF, "kel1.tmp"},
        {"mechanisms not given", noList, list(TWON_ENUMERATION, {TWFF_TIFF}), true, TWFF_TIFF, "kel0.tif"},
        // Success without a container: nothing to read, nothing to free.
        {"formats answered without a container", list(TWON_ENUMERATION, {TWSX_FILE}), noContainer, true, 0xFFFF, "kel2.tmp"},
    };
    createSession(owner);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        script->xferMech = step.mechanisms;
        script->fileFormat = step.formats;
        // Pages come as files where the source lists them or lists nothing.
        const TW_UINT16* listed = step.mechanisms.items;
        const bool asFile = step.mechanisms.rc != TWRC_SUCCESS ||
                            std::count(listed, listed + step.mechanisms.itemCount, TWSX_FILE) > 0;
        setTransfers({asFile ? done(0) : notAsFile(0, {1, 4, 2, 24, 0, 0, 0})});
        size_t from = mark();
        const size_t setupsBefore = callsNamed("SETUPFILEXFER SET").size();
        acquire();
        scan();
        Names names = namesSince(from);
        EXPECT_EQ(step.formatsAsked, std::count(names.begin(), names.end(), "GET IMAGEFILEFORMAT") == 1);
        if (step.formatsAsked)
            EXPECT_EQ(nullptr, callsNamed("GET IMAGEFILEFORMAT").back().container)
                << "a handle already freed is never handed back to the source";
        EXPECT_EQ(step.format, currentSession->fileFormat);
        auto setups = callsNamed("SETUPFILEXFER SET");
        EXPECT_EQ(setupsBefore + (asFile ? 1 : 0), setups.size()) << "a file transfer only where listed";
        if (asFile) {
            ASSERT_FALSE(setups.empty());
            EXPECT_EQ(step.format, setups.back().format);
            EXPECT_EQ(temp + step.file, setups.back().fileName);
        }
        EXPECT_EQ((std::vector<std::string>{temp + step.file}), takeAllFiles());
    }
}

TEST_F(Session, TempNamesTakeTheLowestFreeNumberPerExtension)
{
    for (const char* name : {"kel0.tif", "kel1.tif", "kel3.tif"}) {
        HANDLE file = CreateFileA((temp + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << name;
        CloseHandle(file);
    }
    EXPECT_STREQ((temp + "kel2.tif").c_str(), ImageFileNode(TWFF_TIFF).path);
    EXPECT_STREQ((temp + "kel0.png").c_str(), ImageFileNode(TWFF_PNG).path);
    EXPECT_STREQ((temp + "kel0.tmp").c_str(), ImageFileNode(0x1234).path);
    // Nothing reserves a name: a second node gets the same one until a file is there.
    EXPECT_STREQ((temp + "kel2.tif").c_str(), ImageFileNode(TWFF_TIFF).path);

    ImageFileList files;
    auto* first = new ImageFileNode(TWFF_TIFF);
    auto* second = new ImageFileNode(TWFF_BMP);
    files.append(first);
    files.append(second);
    EXPECT_EQ(first, files.head);
    EXPECT_EQ(second, files.tail);
    EXPECT_EQ(second, first->next);
    EXPECT_EQ(nullptr, second->next);
}

TEST_F(Session, TempDirectoryTooLongForTheFileNameFailsThePage)
{
    // 250 characters of folder: the folder fits, "kel0.tif" after it does not
    // fit the 255 characters of TW_SETUPFILEXFER's FileName.
    std::string folder = temp;
    while (folder.size() < 250) {
        folder += std::string(std::min<size_t>(60, 249 - folder.size()), 'd') + "\\";
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
    ASSERT_EQ(250u, folder.size());
    EXPECT_STREQ("", ImageFileNode(TWFF_TIFF).path);

    setTransfers({done(0)});
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, {"IMAGEINFO", "RESET"}, kFinish}), namesSince(0));
    EXPECT_EQ(STATUS_FINISHED, takeStatus()) << "the acquisition fails at once";
}

TEST_F(Session, BlockThatCannotBeCreatedFailsTheAcquisition)
{
    // Another kind of object holds the block's name.
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, "D32B4912-DB77-4112-B52F-4BE6856A3199");
    ASSERT_NE(nullptr, squatter);
    setTransfers({done(1), done(0)});
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, kTransfer, {"RESET"}, kFinish}), namesSince(0));
    EXPECT_EQ(STATUS_FINISHED, takeStatus());
    EXPECT_EQ(nullptr, currentSession->nameWriter);
    CloseHandle(squatter);
}

TEST_F(Session, SourceThatWritesElsewhereIsAskedWhereAndAFileNowhereFailsThePage)
{
    std::string elsewhere = temp + "scan-0001.bmp";
    Transfer moved = done(1);
    moved.write = 2;
    std::strcpy(moved.elsewhere, elsewhere.c_str());
    Transfer nothing = done(0);
    nothing.write = 0;
    setTransfers({moved, nothing});
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, kTransfer, {"SETUPFILEXFER GET"}, kTransfer,
                      {"SETUPFILEXFER GET"}, kFinish}),
              namesSince(0));
    EXPECT_EQ(TWM_ACQUIRE_FAILED, currentSession->finalReport);
    // The page is kept under a temp name of ours, with the source's extension.
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.bmp"}), takeAllFiles());
    EXPECT_EQ("standin page 1\n", contentsOf(temp + "kel0.bmp"));
    EXPECT_TRUE(fileExists(elsewhere)) << "the source's own file stays";
}

TEST_F(Session, PagesASourceWritesUnderOneNameOfItsOwnAreEachKept)
{
    // The source ignores the names it is given and writes every page to the
    // same file: each page must be kept before the next one overwrites it.
    std::string elsewhere = temp + "TWAIN.TMP";
    Transfer page = done(1);
    page.write = 2;
    std::strcpy(page.elsewhere, elsewhere.c_str());
    Transfer last = page;
    last.count = 0;
    setTransfers({page, page, last});
    createSession(owner);
    acquire();
    scan();
    std::vector<std::string> paths = takeAllFiles();
    ASSERT_EQ(3u, paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ("standin page " + std::to_string(i + 1) + "\n", contentsOf(paths[i])) << paths[i];
    EXPECT_EQ(temp + "kel0.TMP", paths[0]);
}

TEST_F(Session, AcquisitionRequestedWhileAPathWaitsKeepsItSignalled)
{
    setTransfers({done(1), done(0)});
    createSession(owner);
    acquire();
    scan();
    ASSERT_EQ(STATUS_SIGNALLED, acquisitionStatus.load());
    // The Java side asks for a new acquisition without taking the waiting
    // path: the request leaves the signal, and this acquisition's pages
    // follow those files.
    markRequestPending();
    EXPECT_EQ(STATUS_SIGNALLED, acquisitionStatus.load()) << "the waiting path is hidden";
    acquire();
    EXPECT_EQ(STATUS_SIGNALLED, acquisitionStatus.load());
    scan();
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.tif", temp + "kel1.tif", temp + "kel2.tif",
                                        temp + "kel3.tif"}),
              takeAllFiles());

    // With nothing left to hand over, a request's STATUS_PENDING stays.
    acquisitionStatus.store(STATUS_PENDING);
    acquire();
    EXPECT_EQ(STATUS_PENDING, acquisitionStatus.load());
}

TEST_F(Session, ClosingTheSourceWithoutScanningEndsTheAcquisitionCancelled)
{
    createSession(owner);
    acquire();
    EXPECT_EQ(STATUS_PENDING, acquisitionStatus.load());
    PostMessageA(dsm.sourceWindow(), kCloseButton, 0, 0);
    pumpWorker();
    EXPECT_EQ(concat({kOpenAndEnable, {"PROCESSEVENT"}, kFinish}), namesSince(0));
    EXPECT_EQ(STATUS_FINISHED, takeStatus());
    EXPECT_EQ(nullptr, dsm.sourceWindow());

    // A close request with no source enabled changes nothing.
    acquisitionStatus.store(STATUS_IDLE);
    MSG stray = {nullptr, kCloseButton, 0, 0, 0, {0, 0}};
    filterEvent(stray);
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());
}

TEST_F(Session, NextFilePostedWhileASourceDialogRunsIsNotLost)
{
    // The Java side takes the first file while the second page's dialog is up.
    BoxCloser boxes([&](const std::string& text) {
        if (text != "Standin page 2") return;
        EXPECT_EQ(STATUS_SIGNALLED, takeStatus());
        PostThreadMessageA(mainThread, TWM_NEXT_FILE, kRequestMark, 0);
        Sleep(300); // the dialog's loop retrieves the request meanwhile
    });
    Transfer second = done(0);
    second.modal = 1;
    setTransfers({done(1), second});
    createSession(owner);
    acquire();
    scan();
    ASSERT_EQ((Names{"Standin page 2"}), boxes.texts());
    pumpWorker(); // the kept request, posted again after the dialog
    EXPECT_EQ(STATUS_SIGNALLED, takeStatus()) << "the second file is published";
    EXPECT_EQ(temp + "kel1.tif", readNameBlock());
    post(TWM_NEXT_FILE);
    pumpWorker();
    EXPECT_EQ(STATUS_FINISHED, takeStatus());
}

TEST_F(Session, PathTakenDuringTheBatchIsFollowedByTheNextPageOrTheEnd)
{
    // The Java side takes the first file while the second page's dialog is
    // up (its loop keeps the request); the batch takes the request, and
    // answers it with the second page, or with the end when that page did
    // not complete.
    BoxCloser boxes([&](const std::string&) {
        takeStatus();
        PostThreadMessageA(mainThread, TWM_NEXT_FILE, kRequestMark, 0);
        Sleep(300);
    });
    const struct {
        const char* name;
        Transfer second;
        int status;
        const char* block; // in the temp directory
    } cases[] = {{"page 2 completes", done(0), STATUS_SIGNALLED, "kel1.tif"},
                 {"page 2 cancelled", cancelled(0), STATUS_FINISHED, ""}};
    createSession(owner);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = useFreshTempDirectory("taken");
        Transfer second = c.second;
        second.modal = 1;
        setTransfers({done(1), second});
        acquire();
        scan();
        EXPECT_EQ(c.status, takeStatus());
        if (c.status == STATUS_SIGNALLED) EXPECT_EQ(folder + c.block, takeFile());
        EXPECT_EQ(c.status == STATUS_SIGNALLED ? STATUS_FINISHED : STATUS_IDLE, takeStatus());
    }
    EXPECT_EQ(2u, boxes.texts().size());
}

TEST_F(Session, RequestsPostedDuringTheSelectionDialogAreKept)
{
    BoxCloser boxes([&](const std::string&) {
        PostThreadMessageA(mainThread, TWM_ACQUIRE, kRequestMark, 0);
        Sleep(300);
    });
    script->selectModal = 1;
    createSession(owner);
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    EXPECT_EQ((Names{"Standin select"}), boxes.texts());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM", "OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), namesSince(0));
}

TEST_F(Session, ASourcesOwnThreadMessagesOfTheRequestNumbersAreNoRequests)
{
    // A source posts WM_USER+2, +5 and +6 to the thread that calls it, with
    // the selection dialog up and after it.
    const UINT numbers[] = {TWM_SELECT_SOURCE, TWM_ACQUIRE, TWM_NEXT_FILE};
    BoxCloser boxes([&](const std::string&) {
        for (UINT number : numbers) PostThreadMessageA(mainThread, number, 0, 0);
        Sleep(300);
    });
    script->selectModal = 1;
    createSession(owner);
    post(TWM_SELECT_SOURCE);
    pumpWorker();
    for (UINT number : numbers) PostThreadMessageA(mainThread, number, 0, 0);
    pumpWorker();
    EXPECT_EQ((Names{"Standin select"}), boxes.texts());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM"}), namesSince(0));
    EXPECT_EQ(STATUS_IDLE, acquisitionStatus.load());
}

struct NamedImage {
    const char* name;
    NativeImage image;
};

TEST_F(Session, PagesNotTransferredAsFilesComeAsNativeImagesOfEitherKind)
{
    const NamedImage shapes[] = {
        {"memory, 24 bits", {1, 5, 3, 24, 0, 0, 0}},
        {"memory, 24 bits top-down, block larger than the image", {1, 3, -4, 24, 0, 0, 64}},
        {"memory, 24 bits with a palette", {1, 4, 2, 24, 0, 16, 0}},
        {"memory, 8 bits, full palette", {1, 7, 3, 8, 0, 0, 0}},
        {"memory, 8 bits, 16 colours", {1, 7, 3, 8, 0, 16, 0}},
        {"memory, 1 bit", {1, 35, 2, 1, 0, 0, 0}},
        {"bitmap, 24 bits top-down", {2, 5, -3, 24, 0, 0, 0}},
        // Unpadded bottom-up rows are written from the section's memory.
        {"bitmap, 24 bits, rows unpadded", {2, 4, 3, 24, 0, 0, 0}},
        {"bitmap, 24 bits, rows padded", {2, 5, 3, 24, 0, 0, 0}},
        {"bitmap, 24 bits top-down, rows unpadded", {2, 8, -3, 24, 0, 0, 0}},
        // Rows 256 apart are alike: its bottom row is its top row.
        {"bitmap, 24 bits top-down, rows unpadded, top and bottom alike", {2, 4, -257, 24, 0, 0, 0}},
        {"bitmap, 8 bits", {2, 6, 2, 8, 0, 0, 0}},
        {"bitmap, 1 bit", {2, 17, 3, 1, 0, 0, 0}},
    };
    createSession(owner);
    for (const NamedImage& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::string folder = useFreshTempDirectory("native");
        // Once a page came natively, the next is asked for natively at once.
        setTransfers({notAsFile(1, shape.image), notAsFile(0, shape.image)});
        size_t from = mark();
        acquire();
        scan();
        Names names = namesSince(from);
        names.erase(std::remove(names.begin(), names.end(), "GETDEFAULT"), names.end());
        EXPECT_EQ(concat({{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}, kCapabilities,
                          {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER", "IMAGENATIVEXFER", "ENDXFER"},
                          {"IMAGEINFO", "IMAGENATIVEXFER", "ENDXFER"}, kFinish}),
                  names);
        std::vector<std::string> paths = takeAllFiles();
        ASSERT_EQ((std::vector<std::string>{folder + "kel0.bmp", folder + "kel1.bmp"}), paths);
        for (int page = 1; page <= 2; ++page) expectBmpOf(paths[page - 1], shape.image, page);
    }
}

TEST_F(Session, RefusedFileSetupTakesThePageNatively)
{
    script->setupSet = TWRC_FAILURE;
    const NativeImage image = {1, 4, 4, 24, 0, 0, 0};
    setTransfers({notAsFile(0, image)});
    createSession(owner);
    acquire();
    scan();
    EXPECT_EQ(concat({kOpenAndEnable, kCapabilities, {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGENATIVEXFER", "ENDXFER"},
                      kFinish}),
              namesSince(0));
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.bmp"}), takeAllFiles());
    expectBmpOf(temp + "kel0.bmp", image, 1);
}

// A small disk under the BMP files this program writes: its WriteFile calls
// to a .bmp file (the library's, linked in) write what still fits and then
// fail as on a full disk. The import is patched while the object lives.
class SmallDisk {
public:
    explicit SmallDisk(long room) : slot_(importSlot("WriteFile"))
    {
        room_ = room;
        if (room < 0 || !slot_) return;
        original_ = reinterpret_cast<WriteFileProc>(*slot_);
        patch(reinterpret_cast<void*>(&write));
    }
    ~SmallDisk()
    {
        if (original_) patch(reinterpret_cast<void*>(original_));
    }
    bool patched() const { return original_ != nullptr; }

private:
    using WriteFileProc = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

    static BOOL WINAPI write(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
    {
        // The temp folders of the cases nest deep: room for any path.
        std::vector<wchar_t> path(32768);
        const DWORD length = GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0);
        if (length < 4 || length >= path.size() || lstrcmpiW(path.data() + length - 4, L".bmp") != 0)
            return original_(file, bytes, count, written, overlapped);
        const DWORD fits = std::min<DWORD>(count, static_cast<DWORD>(room_));
        room_ -= fits;
        if (!original_(file, bytes, fits, written, overlapped)) return FALSE;
        if (fits == count) return TRUE;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }

    // This program's import address table entry of a kernel32 function.
    static void** importSlot(const char* name)
    {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
            base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (; import->Name; ++import) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), "kernel32.dll") != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
            auto* slots = reinterpret_cast<void**>(base + import->FirstThunk);
            for (int i = 0; names[i].u1.AddressOfData; ++i) {
                if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0) return &slots[i];
            }
        }
        return nullptr;
    }

    void patch(void* target)
    {
        DWORD protection;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = target;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }

    void** slot_;
    static long room_;
    static WriteFileProc original_;
};
long SmallDisk::room_ = 0;
SmallDisk::WriteFileProc SmallDisk::original_ = nullptr;

TEST_F(Session, BadNativeImageFailsItsPageAndTheCompletedOnesAreHandedOver)
{
    struct BadPage {
        const char* name;
        NativeImage image;
        long diskRoom; // bytes the disk takes of the page's file; -1: no limit
    };
    const BadPage bads[] = {
        {"header claims more rows than the block holds", {1, 5, 3, 24, 0, 0, -32}, -1},
        {"zero width", {1, 0, 3, 24, 0, 0, 0}, -1},
        {"negative width", {1, -5, 3, 24, 0, 0, 0}, -1},
        {"2 bits", {1, 8, 2, 2, 0, 0, 0}, -1},
        {"run-length compression", {1, 8, 2, 8, 1, 0, 0}, -1},
        {"JPEG compression", {1, 8, 2, 24, 4, 0, 0}, -1},
        {"no image at all", {0, 0, 0, 0, 0, 0, 0}, -1},
        {"disk full before the file header", {1, 5, 3, 24, 0, 0, 0}, 0},
        {"disk full within the palette", {1, 7, 3, 8, 0, 0, 0}, 54 + 100},
        {"disk full within the rows", {1, 5, 3, 24, 0, 0, 0}, 54 + 20},
        {"disk full within the rows, top-down", {1, 5, -3, 24, 0, 0, 0}, 54 + 20},
        {"bitmap, disk full within the rows", {2, 5, -3, 24, 0, 0, 0}, 54 + 20},
        {"bitmap, unpadded rows, disk full within them", {2, 4, 3, 24, 0, 0, 0}, 54 + 20},
        {"disk full at the last byte", {1, 5, 3, 24, 0, 0, 0}, 54 + 16 * 3 - 1},
    };
    createSession(owner);
    for (const BadPage& bad : bads) {
        SCOPED_TRACE(bad.name);
        std::string folder = useFreshTempDirectory("badnative");
        setTransfers({done(2), notAsFile(1, bad.image), done(0)});
        SmallDisk disk(bad.diskRoom);
        ASSERT_TRUE(bad.diskRoom < 0 || disk.patched()) << "WriteFile is not imported by this program";
        size_t from = mark();
        acquire();
        scan();
        Names names = namesSince(from);
        EXPECT_EQ(kFinish, Names(names.end() - 3, names.end())) << "the source and the manager are brought down";
        EXPECT_EQ(1, std::count(names.begin(), names.end(), "RESET")) << "the page left is dropped";
        EXPECT_EQ(TWM_ACQUIRE_FAILED, currentSession->finalReport);
        EXPECT_EQ((std::vector<std::string>{folder + "kel0.tif"}), takeAllFiles());
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "*.bmp").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "no file is left of the failed page";
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

// Pages whose mechanism was set before the source was enabled: the file
// transfer when listed, else memory, else native; a refused set keeps the
// source's own mechanism, without a file transfer it did not list.
TEST_F(Session, MechanismIsSetBeforeEnablingAndTheAnswerDecidesHowPagesAreAskedFor)
{
    const MemoryImage memory = {1, TWPT_RGB, 5, 3, 0, 0, 0, 0, 0};
    const NativeImage image = {1, 5, 3, 24, 0, 0, 0};
    const Names asFile = {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER", "ENDXFER"};
    const Names inMemory = {"IMAGEINFO", "SETUPMEMXFER", "IMAGEMEMXFER", "ENDXFER"};
    const Names natively = {"IMAGEINFO", "IMAGENATIVEXFER", "ENDXFER"};
    const struct {
        const char* name;
        Capability listed;
        TW_UINT16 setAnswer;
        int strict;
        TW_UINT32 set; // the value offered; 0xFFFF: no set
        Names page;
        const char* file;
    } cases[] = {
        {"all three, strict", list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}), TWRC_SUCCESS, 1,
         TWSX_FILE, asFile, "kel0.tif"},
        {"file refused: as before", list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_FILE}), TWRC_FAILURE, 0, TWSX_FILE,
         asFile, "kel0.tif"},
        {"native and memory, strict", list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_MEMORY}), TWRC_SUCCESS, 1,
         TWSX_MEMORY, inMemory, "kel0.bmp"},
        {"memory refused", list(TWON_ARRAY, {TWSX_MEMORY, TWSX_NATIVE}), TWRC_FAILURE, 0, TWSX_MEMORY, natively,
         "kel0.bmp"},
        {"native alone (gphoto2.ds's one value)", list(TWON_ONEVALUE, {TWSX_NATIVE}), TWRC_SUCCESS, 1, TWSX_NATIVE,
         natively, "kel0.bmp"},
        {"nothing listed", {TWRC_FAILURE, 0, 0, 0, {}}, TWRC_SUCCESS, 0, 0xFFFF,
         {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER", "IMAGENATIVEXFER", "ENDXFER"}, "kel0.bmp"},
    };
    createSession(owner);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = useFreshTempDirectory("mechanism");
        script->xferMech = c.listed;
        script->xferMechSet = c.setAnswer;
        script->strict = c.strict;
        Transfer page = done(0);
        page.write = c.set == TWSX_FILE ? 1 : 0;
        page.rc = c.set == TWSX_FILE ? TWRC_XFERDONE : TWRC_FAILURE;
        page.native = image;
        page.memory = memory;
        setTransfers({page});
        const size_t from = mark();
        acquire();
        Names enabling = c.set == 0xFFFF ? Names{"OPENDSM", "OPENDS", "GET XFERMECH", "ENABLEDS"}
                                          : Names{"OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"};
        Names enabled = namesSince(from);
        enabled.erase(std::remove(enabled.begin(), enabled.end(), "GETDEFAULT"), enabled.end());
        EXPECT_EQ(enabling, enabled);
        if (c.set != 0xFFFF) {
            const Call set = callsNamed("SET XFERMECH").back();
            EXPECT_EQ(TWON_ONEVALUE, set.conType);
            EXPECT_EQ(TWTY_UINT16, set.setItemType);
            EXPECT_EQ(c.set, set.setItem);
        }
        const size_t scanned = mark();
        scan();
        Names names = namesSince(scanned);
        names.erase(std::unique(names.begin(), names.end()), names.end()); // one IMAGEMEMXFER per strip
        EXPECT_EQ(concat({kCapabilities, c.page, kFinish}), names);
        EXPECT_EQ((std::vector<std::string>{folder + c.file}), takeAllFiles());
    }
    script->strict = 0;
}

// The BMP file of a memory page: the strips' rows (top first, R,G,B, rows
// padded by the source) bottom-up, B,G,R, padded to 4, with the header and
// palette of the source's native DIB.
void expectMemoryBmpOf(const std::string& path, const MemoryImage& image, int page, bool zeroIsWhite = false)
{
    const std::string file = contentsOf(path);
    const long bits = image.pixelType == TWPT_BW ? 1 : image.pixelType == TWPT_RGB ? 24 : 8;
    const long colors = bits <= 8 ? 1L << bits : 0;
    const long stride = (long(image.width) * bits + 31) / 32 * 4;
    const long rowBytes = (long(image.width) * bits + 7) / 8;
    ASSERT_EQ(size_t(54 + colors * 4 + stride * image.rows), file.size()) << path;
    EXPECT_EQ("BM", file.substr(0, 2));
    EXPECT_EQ(file.size(), le32(file, 2));
    EXPECT_EQ(54 + colors * 4, long(le32(file, 10)));
    EXPECT_EQ(image.width, long(le32(file, 18)));
    EXPECT_EQ(image.rows, long(le32(file, 22))) << "bottom-up, the length known at the end too";
    EXPECT_EQ(bits, static_cast<unsigned char>(file[28]));
    EXPECT_EQ(7874u, le32(file, 38)) << "200 dpi";
    EXPECT_EQ(colors, long(le32(file, 46)));
    for (long i = 0; i < colors; ++i) {
        const long level = i * 255 / (colors - 1);
        EXPECT_EQ(zeroIsWhite ? 255 - level : level, static_cast<unsigned char>(file[54 + i * 4])) << "colour " << i;
    }
    for (long y = 0; y < image.rows; ++y) {
        const std::string row = file.substr(54 + colors * 4 + (image.rows - 1 - y) * stride, stride);
        std::string expected(stride, '\0');
        for (long k = 0; k < rowBytes; ++k)
            expected[k] = static_cast<char>(memoryByte(y, bits == 24 ? k - 2 * (k % 3) + 2 : k, page));
        ASSERT_EQ(expected, row) << "row " << y << " from the top";
    }
}

TEST_F(Session, MemoryPagesArriveInStripsAsBmpFilesOfTheirRows)
{
    const struct {
        const char* name;
        MemoryImage image;
        TW_SETUPMEMXFER limits;
        TW_UINT16 flavor;
    } cases[] = {
        {"RGB, odd width, one row a strip", {1, TWPT_RGB, 5, 9, 0, 0, 0, 0, 0}, {16, 16, 16}, TWPF_CHOCOLATE},
        {"RGB, length unknown", {1, TWPT_RGB, 7, 11, 1, 0, 0, 0, 0}, {16, 1000, 100}, TWPF_CHOCOLATE},
        {"GRAY, vanilla", {1, TWPT_GRAY, 6, 5, 0, 0, 0, 0, 0}, {8, 64, 20}, TWPF_VANILLA},
        {"BW, odd width, length unknown", {1, TWPT_BW, 13, 7, 1, 0, 0, 0, 0}, {4, 64, 8}, TWPF_CHOCOLATE},
        {"BW, preferred below a row", {1, TWPT_BW, 70, 4, 0, 0, 0, 0, 0}, {4, 64, 2}, TWPF_CHOCOLATE},
    };
    script->xferMech = list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_MEMORY});
    script->strict = 1;
    createSession(owner);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = useFreshTempDirectory("memory");
        script->memLimits = c.limits;
        script->pixelFlavor = list(TWON_ONEVALUE, {c.flavor});
        Transfer page = failed(1);
        page.memory = c.image;
        Transfer last = page;
        last.count = 0;
        setTransfers({page, last});
        const size_t from = mark();
        acquire();
        scan();
        const std::vector<std::string> paths = takeAllFiles();
        ASSERT_EQ((std::vector<std::string>{folder + "kel0.bmp", folder + "kel1.bmp"}), paths);
        for (int n = 1; n <= 2; ++n) expectMemoryBmpOf(paths[n - 1], c.image, n, c.flavor == TWPF_VANILLA);

        std::vector<Call> strips;
        for (const Call& call : loggedCalls(dsm))
            if (callName(call) == "IMAGEMEMXFER") strips.push_back(call);
        const long stride = (long(c.image.width) * (c.image.pixelType == TWPT_BW ? 1 : c.image.pixelType == TWPT_RGB ? 24 : 8) + 31) / 32 * 4;
        const TW_UINT32 size = std::max<TW_UINT32>(std::min(c.limits.Preferred, c.limits.MaxBufSize), stride);
        const long perStrip = size / stride;
        EXPECT_EQ(size_t(2 * ((c.image.rows + perStrip - 1) / perStrip)), strips.size())
            << "strips of " << perStrip << " rows";
        for (const Call& strip : strips) {
            EXPECT_EQ(TWMF_APPOWNS | TWMF_POINTER, strip.strip.Memory.Flags);
            EXPECT_EQ(size, strip.strip.Memory.Length) << "the preferred size, within the limits and a row";
            EXPECT_EQ(TWON_DONTCARE16, strip.strip.Compression);
            EXPECT_EQ(TWON_DONTCARE32, strip.strip.YOffset);
        }
        const Names names = namesSince(from);
        EXPECT_EQ(c.image.pixelType == TWPT_RGB ? 0 : 2, std::count(names.begin(), names.end(), "GETCURRENT PIXELFLAVOR"))
            << "the flavour is asked for each 1- and 8-bit page";
        dsm.clear();
    }
    script->strict = 0;
}

TEST_F(Session, MemoryPageThatCannotBePlacedFailsWithNothingLeftAndOneNotBegunComesNatively)
{
    const NativeImage native = {1, 4, 3, 24, 0, 0, 0};
    const struct {
        const char* name;
        MemoryImage image;
        TW_UINT16 setupMem;
        UINT report;
        std::vector<const char*> files;
    } cases[] = {
        {"compressed strips", {1, TWPT_RGB, 5, 9, 0, 5, 0, 0, 0}, TWRC_SUCCESS, TWM_ACQUIRE_FAILED, {"kel0.bmp"}},
        {"tiled strips", {1, TWPT_RGB, 8, 9, 0, 0, 1, 0, 0}, TWRC_SUCCESS, TWM_ACQUIRE_FAILED, {"kel0.bmp"}},
        {"failure after a strip", {1, TWPT_RGB, 5, 9, 1, 0, 0, 2, 0}, TWRC_SUCCESS, TWM_ACQUIRE_FAILED, {"kel0.bmp"}},
        // The batch goes on after a cancelled page.
        {"cancelled after a strip", {1, TWPT_GRAY, 5, 9, 0, 0, 0, 0, 2}, TWRC_SUCCESS, TWM_FILE_READY,
         {"kel0.bmp", "kel1.bmp"}},
        // Pages not begun come natively, and so do the batch's later ones.
        {"first strip refused", {1, TWPT_RGB, 5, 9, 0, 0, 0, 1, 0}, TWRC_SUCCESS, TWM_FILE_READY,
         {"kel0.bmp", "kel1.bmp", "kel2.bmp"}},
        {"a pixel type no BMP file takes", {1, 7, 5, 9, 0, 0, 0, 0, 0}, TWRC_SUCCESS, TWM_FILE_READY,
         {"kel0.bmp", "kel1.bmp", "kel2.bmp"}},
        {"setup refused", {1, TWPT_RGB, 5, 9, 0, 0, 0, 0, 0}, TWRC_FAILURE, TWM_FILE_READY,
         {"kel0.bmp", "kel1.bmp", "kel2.bmp"}},
    };
    script->xferMech = list(TWON_ENUMERATION, {TWSX_NATIVE, TWSX_MEMORY});
    script->memLimits = {16, 64, 32};
    createSession(owner);
    const MemoryImage good = {1, TWPT_RGB, 5, 3, 0, 0, 0, 0, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = useFreshTempDirectory("badmemory");
        script->setupMem = c.setupMem;
        Transfer first = failed(2);
        first.memory = good;
        first.native = native;
        Transfer bad = failed(1);
        bad.memory = c.image;
        bad.native = native;
        Transfer last = first;
        last.count = 0;
        setTransfers({first, bad, last});
        acquire();
        scan();
        EXPECT_EQ(c.report, currentSession->finalReport);
        std::vector<std::string> expected;
        for (const char* name : c.files) expected.push_back(folder + name);
        EXPECT_EQ(expected, takeAllFiles());
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "kel*").c_str(), &found);
        size_t files = 0;
        if (search != INVALID_HANDLE_VALUE) {
            do ++files;
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        EXPECT_EQ(expected.size(), files) << "no file is left of a failed page";
        const Names names = namesSince(0);
        EXPECT_EQ(kFinish, Names(names.end() - 3, names.end())) << "the source and the manager are brought down";
    }
    script->setupMem = TWRC_SUCCESS;
}

} // namespace
