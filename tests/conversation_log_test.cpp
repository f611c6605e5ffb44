// The conversation log (DOVRIKNA_LOG) over a scan through the natives with
// the stand-in source manager: the lines a support engineer reads, and no
// file at all when the variable was not set at load. And the file itself:
// its rotation while a reader holds it open, and two processes writing it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dovrikna_version.h"
#include "frame/conversation_log.h"
#include "frame/log_line.h"
#include "frame/log_pacing.h"
#include "mapi_standin.h"
#include "message_box_watcher.h"
#include "scanning_fixture.h"

namespace {

using namespace scanning;
using Names = std::vector<std::string>;

// The bound at which the library begins a new log file.
constexpr size_t kFullLog = 1024 * 1024;

// Names the log file before the library loads (a base class is made before
// the fixture's members, the library among them).
struct LogNamed {
    // `full`: the file is there already, at the log's bound.
    LogNamed(bool atLoad, bool full) : path(twaintest::programFolder() + "conversation-" + std::to_string(GetCurrentProcessId()) + ".log")
    {
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".1").c_str());
        if (full) std::ofstream(path, std::ios::binary) << std::string(kFullLog, 'x');
        SetEnvironmentVariableA("DOVRIKNA_LOG", atLoad ? path.c_str() : nullptr);
    }
    ~LogNamed()
    {
        SetEnvironmentVariableA("DOVRIKNA_LOG", nullptr);
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".1").c_str());
    }
    std::string path;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Line {
    DWORD process;
    DWORD thread;
    std::string text;
};

// "2026-12-07 13:45:01.123 process 32 thread 66: text", each line checked for that form.
std::vector<Line> readLog(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Line> lines;
    for (std::string raw; std::getline(in, raw);) {
        EXPECT_TRUE(!raw.empty() && raw.back() == '\r') << "no CRLF: " << raw;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        unsigned year, month, day, hour, minute, second, ms;
        unsigned long process, thread;
        int consumed = 0;
        const bool stamped = std::sscanf(raw.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u process %lu thread %lu: %n", &year,
                                         &month, &day, &hour, &minute, &second, &ms, &process, &thread,
                                         &consumed) == 9 &&
                             consumed > 0 && raw[10] == ' ' && raw[23] == ' ';
        EXPECT_TRUE(stamped) << "no time stamp, process or thread: " << raw;
        if (stamped)
            lines.push_back({static_cast<DWORD>(process), static_cast<DWORD>(thread), raw.substr(consumed)});
    }
    return lines;
}

bool startsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The log begins full: its first line goes to a new file, and the full one is
// kept under the name with ".1".
class LoggedScanning : protected LogNamed, public StandinScanning {
protected:
    LoggedScanning() : LogNamed(true, true) {}
};

TEST_F(LoggedScanning, AScanWritesEveryCallWithItsResultAndTheConditionOfAFailure)
{
    script->fileFormat.rc = dovrikna::TWRC_FAILURE;
    script->conditionCode = 13; // TWCC_CAPUNSUPPORTED
    acquire();
    pressScan();
    // No format known: the name ends in .tmp.
    EXPECT_EQ((Names{temp + "kel0.tmp"}), collect());

    EXPECT_EQ(std::string(kFullLog, 'x'), readFile(path + ".1"));
    const std::vector<Line> lines = readLog(path);
    ASSERT_FALSE(lines.empty()) << path;
    EXPECT_TRUE(startsWith(lines.front().text, "load dovrikna " DOVRIKNA_VERSION_TEXT " ")) << lines.front().text;

    // Each DSM line as "triplet ... -> result": what was asked and what came back.
    Names dsm;
    std::string failure;
    for (const Line& line : lines) {
        EXPECT_EQ(GetCurrentProcessId(), line.process) << line.text;
        if (!startsWith(line.text, "DSM ") || line.text.find("without a message") != std::string::npos) continue;
        EXPECT_EQ(worker, line.thread) << line.text;
        const size_t space = line.text.find(' ', 4);
        const size_t arrow = line.text.find(" -> ");
        ASSERT_NE(std::string::npos, arrow) << line.text;
        dsm.push_back(line.text.substr(4, space - 4) + line.text.substr(arrow));
        if (line.text.find("FAILURE") != std::string::npos) failure = line.text;
    }
    EXPECT_EQ((Names{"CONTROL/PARENT/OPENDSM -> SUCCESS", "CONTROL/IDENTITY/GETDEFAULT -> SUCCESS",
                     "CONTROL/IDENTITY/OPENDS -> SUCCESS", "CONTROL/CAPABILITY/GET -> SUCCESS",
                     "CONTROL/CAPABILITY/SET -> SUCCESS", "CONTROL/USERINTERFACE/ENABLEDS -> SUCCESS",
                     "CONTROL/EVENT/PROCESSEVENT -> DSEVENT", "CONTROL/CAPABILITY/GET -> SUCCESS",
                     "CONTROL/CAPABILITY/GET -> FAILURE, condition CAPUNSUPPORTED (13)",
                     "IMAGE/IMAGEINFO/GET -> SUCCESS", "CONTROL/SETUPFILEXFER/SET -> SUCCESS",
                     "IMAGE/IMAGEFILEXFER/GET -> XFERDONE", "CONTROL/PENDINGXFERS/ENDXFER -> SUCCESS",
                     "CONTROL/USERINTERFACE/DISABLEDS -> SUCCESS", "CONTROL/IDENTITY/CLOSEDS -> SUCCESS",
                     "CONTROL/PARENT/CLOSEDSM -> SUCCESS"}),
              dsm);
    EXPECT_TRUE(startsWith(failure, "DSM CONTROL/CAPABILITY/GET to source \"Standin Default\" IMAGEFILEFORMAT"))
        << failure;

    // The fields a support engineer looks for, and the protocol around the calls.
    const DWORD java = GetCurrentThreadId();
    const struct {
        std::string start;
        DWORD thread;
    } expected[] = {
        {"request ACQUIRE to thread ", java},
        {"DSM CONTROL/IDENTITY/OPENDS to manager Id 8 \"Standin Default\" by \"Standin\"", worker},
        {"DSM CONTROL/CAPABILITY/SET to source \"Standin Default\" XFERMECH ONEVALUE [FILE] -> SUCCESS", worker},
        {"transfer mechanism FILE set: pages by file, else natively", worker},
        {"source \"Standin Default\" asked to show its user interface", worker},
        {"DSM CONTROL/USERINTERFACE/ENABLEDS", worker},
        {"DSM CONTROL/EVENT/PROCESSEVENT to source \"Standin Default\" XFERREADY -> DSEVENT", worker},
        {"DSM CONTROL/CAPABILITY/GET to source \"Standin Default\" XFERMECH ENUMERATION [NATIVE,FILE,MEMORY]", worker},
        {"DSM CONTROL/SETUPFILEXFER/SET to source \"Standin Default\" \"" + temp + "kel0.tmp\" format 0xFFFF",
         worker},
        {"DSM CONTROL/PENDINGXFERS/ENDXFER to source \"Standin Default\" Count 0 -> SUCCESS", worker},
        {"file 1 handed over: \"" + temp + "kel0.tmp\"", worker},
        {"report FILE_READY, status 2", worker},
        {"source \"Standin Default\" asked to close its user interface", worker},
        {"DSM CONTROL/USERINTERFACE/DISABLEDS", worker},
        {"report ACQUIRE_DONE, status 3", worker},
    };
    size_t at = 0;
    for (const auto& entry : expected) {
        while (at < lines.size() && !startsWith(lines[at].text, entry.start)) ++at;
        ASSERT_LT(at, lines.size()) << "no line, after the ones before, starting: " << entry.start;
        EXPECT_EQ(entry.thread, lines[at].thread) << lines[at].text;
    }
    // Java's request meets the source's closing at any time.
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [&](const Line& line) {
                  return line.thread == java && startsWith(line.text, "request NEXT_FILE to thread ");
              }));
}

// A source whose count stays at 2 (as Wine's gphoto2.ds does) and that then
// refuses the next page's IMAGEINFO with SEQERROR: the log says that the
// library took the refusal for the batch's end, between the refusal and the
// end's report.
TEST_F(LoggedScanning, ARefusalTakenAsTheBatchsEndIsSaidSo)
{
    const standin::Transfer page = {dovrikna::TWRC_SUCCESS, dovrikna::TWRC_XFERDONE, dovrikna::TWRC_SUCCESS, 2, 1, "", 0};
    standin::Transfer refused = page;
    refused.imageInfoRc = dovrikna::TWRC_FAILURE;
    setTransfers({page, page, refused});
    script->conditionCode = 11; // TWCC_SEQERROR
    acquire();
    pressScan();
    EXPECT_EQ(2u, collect().size());

    Names seen;
    for (const Line& line : readLog(path))
        if (startsWith(line.text, "DSM IMAGE/IMAGEINFO/GET") || startsWith(line.text, "IMAGEINFO refused") ||
            startsWith(line.text, "report ACQUIRE_"))
            seen.push_back(line.text.find(" -> ") != std::string::npos ? line.text.substr(line.text.find(" -> "))
                                                                         : line.text);
    EXPECT_EQ((Names{" -> SUCCESS", " -> SUCCESS", " -> FAILURE, condition SEQERROR (11)",
                     "IMAGEINFO refused with SEQERROR after 2 pages, the count never having gone down: taken as the "
                     "batch's end",
                     "report ACQUIRE_DONE, status 3"}),
              seen);
}

class UnloggedScanning : protected LogNamed, public StandinScanning {
protected:
    UnloggedScanning() : LogNamed(false, false) {}
};

TEST_F(UnloggedScanning, AVariableSetOnlyAfterTheLoadWritesNothing)
{
    SetEnvironmentVariableA("DOVRIKNA_LOG", path.c_str());
    selectSource();
    EXPECT_EQ(kIdle, pollSelect());
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel0.tif"}), collect());
    lib.unload();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str())) << path << " was written";
}

class LoggedNatives : protected LogNamed, public LibraryTest {
protected:
    LoggedNatives() : LogNamed(true, false) {}
};

// A second of 8-bit mono sound, and no picture.
void writeSound(const std::string& path)
{
    const unsigned rate = 8000;
    std::string wave = "RIFF????WAVEfmt ";
    const unsigned format[] = {16, 1 | (1u << 16), rate, rate, 1 | (8u << 16)};
    wave.append(reinterpret_cast<const char*>(format), sizeof format);
    wave += "data";
    wave.append(reinterpret_cast<const char*>(&rate), 4);
    for (unsigned i = 0; i < rate; ++i) wave += static_cast<char>(128 + (i % 32 < 16 ? 40 : -40));
    const unsigned riff = static_cast<unsigned>(wave.size() - 8);
    wave.replace(4, 4, reinterpret_cast<const char*>(&riff), 4);
    std::ofstream(path, std::ios::binary) << wave;
}

// Each native's failure, one line each, with its reason and this process's id.
TEST_F(LoggedNatives, EachFailureLeavesOneLineWithItsReason)
{
    MessageBoxWatcher boxes; // a mail client's or the shell's box, should one come
    const std::string folder = twaintest::programFolder();
    const std::string missing = folder + "no-such-file.avi", text = folder + "not-a-video.avi",
                      sound = folder + "only-sound.wav", moved = folder + "moved.avi",
                      noFolder = folder + "no-such-folder\\";
    std::ofstream(text, std::ios::binary) << "this is no video\r\n";
    writeSound(sound);
    MapiStandin mapi(LoadLibraryA("mapi32.dll"));
    ASSERT_TRUE(mapi.ok()) << "mapi32.dll is not the stand-in";
    mapi.configure(0, 0x77, 11); // MAPI_E_ATTACHMENT_NOT_FOUND

    auto thumbnail = [&](const std::string& file) {
        return lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(
            env(), nullptr, jvm.newString(file), jvm.newIntArray({16, 16}), jvm.newByteArray(std::vector<jbyte>(768)));
    };
    auto quoted = [](const std::string& file) { return "\"" + file + "\""; };
    // The reason is Windows' own error for the same call.
    ULARGE_INTEGER bytes;
    GetDiskFreeSpaceExA(noFolder.c_str(), &bytes, &bytes, &bytes);
    const std::string freeError = std::to_string(GetLastError());
    MoveFileA(missing.c_str(), moved.c_str());
    const std::string moveError = std::to_string(GetLastError());
    const struct {
        jlong result, failure;
        std::string line; // how the line begins
    } rows[] = {
        {thumbnail(missing), -1, "getVideoThumbnail0 " + quoted(missing) + " failed: no such file, HRESULT 0x"},
        // Windows' Media Foundation answers MF_E_UNSUPPORTED_BYTESTREAM_TYPE, "not a
        // video"; Wine's E_FAIL, which tells nothing more (the words: failure_words_test).
        {thumbnail(text), -1, "getVideoThumbnail0 " + quoted(text) + " failed: "},
        {thumbnail(sound), -1, "getVideoThumbnail0 " + quoted(sound) + " failed: no video stream, HRESULT 0x"},
        {lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString(text),
                                                    jvm.newString("someone@example.com")),
         0, "sendFiles0 failed: MAPISendMail answered 11 (MAPI_E_ATTACHMENT_NOT_FOUND)"},
        {lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(missing), jvm.newString(moved)), JNI_FALSE,
         "mv0 " + quoted(missing) + " to " + quoted(moved) + " failed: error " + moveError + " ("},
        {lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, jvm.newString("Q:\\")), 0,
         "getDriveType0 \"Q:\\\" failed: Windows answered drive type 1 (DRIVE_NO_ROOT_DIR)"},
        {lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString(noFolder),
                                                            jvm.newLongArray({0, 0})),
         JNI_FALSE, "getDiskFreeSpace0 " + quoted(noFolder) + " failed: error " + freeError + " ("},
        {lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, nullptr, jvm.newIntArray({16, 16}),
                                                            jvm.newByteArray({})),
         -1, "getVideoThumbnail0 failed: a null argument"},
        {lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, jvm.newString(std::u16string(u"a\0b.mp4", 7)),
                                                            jvm.newIntArray({16, 16}), jvm.newByteArray({})),
         -1, "getVideoThumbnail0 failed: a path that holds U+0000"},
        {lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', nullptr, jvm.newString("")), 0,
         "sendFiles0 failed: a null list"},
        {lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(missing), nullptr), JNI_FALSE,
         "mv0 failed: a path that is null or holds U+0000"},
        // The native only starts the shell's thread; the shell's answer comes later.
        {lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm.newString(missing)), JNI_TRUE,
         "openDefaultApp0 " + quoted(missing) + " failed: the shell answered 2 (ERROR_FILE_NOT_FOUND)"},
    };
    EXPECT_TRUE(waitUntil([&] { return readFile(path).find("openDefaultApp0 ") != std::string::npos; }));
    DeleteFileA(text.c_str());
    DeleteFileA(sound.c_str());

    const std::vector<Line> lines = readLog(path);
    std::string failures;
    for (const Line& line : lines)
        if (line.text.find(" failed: ") != std::string::npos) failures += "\n  " + line.text;
    for (const auto& row : rows) {
        EXPECT_EQ(row.failure, row.result) << row.line;
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [&](const Line& line) {
                      return startsWith(line.text, row.line) && line.process == GetCurrentProcessId();
                  })) << "no line, or more than one, beginning: " << row.line << "\nthe failure lines:" << failures;
    }
    EXPECT_EQ(std::size(rows), size_t(std::count(failures.begin(), failures.end(), '\n'))) << failures;
    for (const Line& line : lines) EXPECT_EQ(GetCurrentProcessId(), line.process) << line.text;
}

// The log's own writer, linked into this program: a second process of it
// (DOVRIKNA_LOG_WRITER=NAME) writes kWriterLines numbered lines and ends
// before any test runs.
const int kWriterLines = 1500;

// A word outside ASCII that the process's code page holds (the library's
// lines carry ANSI text: paths, a source's names), and its UTF-8, which the
// file holds: e acute in 1252, Yu (a double-byte character) in 932.
std::string ansiWord()
{
    const wchar_t* word = GetACP() == 932 ? L"\u042E" : L"caf\u00E9";
    char bytes[16] = "";
    WideCharToMultiByte(CP_ACP, 0, word, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}
const std::string utf8Word = GetACP() == 932 ? "\xD0\xAE" : "caf\xC3\xA9";

// Each line's cost in ms.
std::vector<double> writeNumberedLines(const std::string& name, int count = kWriterLines)
{
    dovrikna::openConversationLog(nullptr);
    dovrikna::logLoadEnded(); // as the library's worker does once it has started
    const std::string word = ansiWord();
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> costs;
    for (int i = 0; i < count; ++i) {
        dovrikna::LogLine line;
        line.text(name.c_str()).text(" ").text(word.c_str()).text(" ").number(i);
        QueryPerformanceCounter(&before);
        dovrikna::writeLogLine(line);
        QueryPerformanceCounter(&after);
        costs.push_back(1000.0 * (after.QuadPart - before.QuadPart) / frequency.QuadPart);
    }
    return costs;
}

double sum(const std::vector<double>& costs, size_t from = 0)
{
    double total = 0;
    for (size_t i = from; i < costs.size(); ++i) total += costs[i];
    return total;
}

const bool writerProcess = [] {
    char name[32];
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_LOG_WRITER", name, sizeof name);
    if (length == 0 || length >= sizeof name) return false;
    writeNumberedLines(name);
    ExitProcess(0);
}();

// A full log at load, while a reader holds the log or the older one open with
// the given sharing: the older log gives way to the full one only when that
// has worked, and the new lines begin a new file.
TEST(LogRotation, AReaderHoldingALogOpenLosesNoLog)
{
    const std::string older = "the older log\r\n";
    const std::string full(kFullLog, 'x');
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const struct {
        const char* held;
        DWORD share;
        const std::string& oldAfter; // the older log after the load and unload
        size_t fullKept;             // bytes of the full log left in the log
    } rows[] = {
        {"", FILE_SHARE_READ | FILE_SHARE_WRITE, full, 0},
        {"", shareAll, full, 0},
        {".1", FILE_SHARE_READ | FILE_SHARE_WRITE, older, kFullLog}, // cannot be replaced
    };
    for (const auto& row : rows) {
        LogNamed log(true, true);
        std::ofstream(log.path + ".1", std::ios::binary) << older;
        HANDLE reader = CreateFileA((log.path + row.held).c_str(), GENERIC_READ, row.share, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, reader);
        { LibraryUnderTest library; }
        CloseHandle(reader);
        const std::string text = readFile(log.path), oldText = readFile(log.path + ".1");
        // Compared, not printed: a megabyte each.
        EXPECT_TRUE(row.oldAfter == oldText) << "held: log" << row.held << " share " << row.share << ": "
                                             << oldText.size() << " bytes in the older log";
        EXPECT_TRUE(std::string(row.fullKept, 'x') == text.substr(0, row.fullKept)) << text.size() << " bytes";
        std::ofstream(log.path, std::ios::binary) << text.substr(row.fullKept);
        const std::vector<Line> lines = readLog(log.path);
        ASSERT_LE(2u, lines.size());
        EXPECT_TRUE(startsWith(lines.front().text, "load dovrikna ")) << lines.front().text;
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                                   [](const Line& line) { return line.text == "unload (the library is freed)"; }));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((log.path + ".1~").c_str()));
    }
}

// This process and a second one write one log, which rotates midway: every
// line of each is there once, in its order, in UTF-8 (built twice: code pages
// 1252 and 932); the older log begins with what the log held before.
TEST(LogRotation, TwoProcessesWritingOneLogLoseNoLine)
{
    ASSERT_TRUE(GetACP() == 1252 || GetACP() == 932) << GetACP();
    LogNamed log(true, false);
    const std::string before(kFullLog - 40000, 'x');
    std::ofstream(log.path, std::ios::binary) << before << "\r\n";

    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    SetEnvironmentVariableA("DOVRIKNA_LOG_WRITER", "second");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = std::string("\"") + program + "\"";
    const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process) != FALSE;
    SetEnvironmentVariableA("DOVRIKNA_LOG_WRITER", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    // Once the second process has written its load line, both write at once.
    EXPECT_TRUE(waitUntil([&] { return readFile(log.path).size() > before.size() + 2; }, 20000));
    writeNumberedLines("first");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const std::string older = readFile(log.path + ".1");
    ASSERT_TRUE(before == older.substr(0, before.size())) << older.size() << " bytes in the older log";
    std::ofstream(log.path + ".1", std::ios::binary) << older.substr(before.size() + 2);
    std::vector<Line> lines = readLog(log.path + ".1");
    const std::vector<Line> newer = readLog(log.path);
    lines.insert(lines.end(), newer.begin(), newer.end());
    EXPECT_FALSE(newer.empty()) << "no rotation";
    int next[2] = {0, 0}, turns = 0, last = -1;
    for (const Line& line : lines) {
        if (startsWith(line.text, "load dovrikna ")) continue;
        const int writer = startsWith(line.text, "first " + utf8Word + " ")    ? 0
                           : startsWith(line.text, "second " + utf8Word + " ") ? 1
                                                                                : -1;
        ASSERT_NE(-1, writer) << line.text;
        EXPECT_EQ(writer == 0 ? GetCurrentProcessId() : process.dwProcessId, line.process) << line.text;
        turns += last != -1 && writer != last;
        last = writer;
        EXPECT_EQ(std::to_string(next[writer]++), line.text.substr(line.text.rfind(' ') + 1));
    }
    EXPECT_EQ(kWriterLines, next[0]);
    EXPECT_EQ(kWriterLines, next[1]);
    EXPECT_LT(0, turns) << "the two processes never wrote at the same time";
}

// A full log while a viewer holds the older one without sharing its deletion:
// nothing can rotate, and the lines cost what lines into a small log cost
// (each once tried a copy of the whole, growing log); once the viewer lets
// go, a later line rotates.
TEST(LogRotation, AnOlderLogThatCannotBeReplacedCostsTheLinesNothing)
{
    const int count = 400;
    double free = 0;
    {
        LogNamed log(true, false);
        free = sum(writeNumberedLines("free", count));
    }
    LogNamed log(true, true);
    const std::string older = "the older log\r\n";
    std::ofstream(log.path + ".1", std::ios::binary) << older;
    HANDLE viewer = CreateFileA((log.path + ".1").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, viewer);
    const double held = sum(writeNumberedLines("held", count));
    CloseHandle(viewer);
    std::printf("%d lines: %.1f ms with the older log held, %.1f ms into a small log\n", count, held, free);
    EXPECT_LT(held, 3 * free + 100) << count << " lines: " << held << " ms with the older log held, " << free
                                    << " ms into a small log";
    EXPECT_TRUE(older == readFile(log.path + ".1"));

    Sleep(dovrikna::RotationPacing::kRetryMs + 100);
    writeNumberedLines("after", 1);
    const std::string rotated = readFile(log.path + ".1");
    EXPECT_TRUE(startsWith(rotated, std::string(kFullLog, 'x'))) << rotated.size() << " bytes in the older log";
    const std::vector<Line> lines = readLog(log.path);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("after " + utf8Word + " 0", lines.back().text);
}

// A writer stopped while it holds the log's turn: a thread of this process
// that owns the named mutex until the object ends.
struct StoppedWriter {
    explicit StoppedWriter(const std::string& path)
    {
        char name[32];
        dovrikna::logTurnName(name, path.c_str());
        holder = std::thread([this, turnName = std::string(name)] {
            HANDLE turn = CreateMutexA(nullptr, FALSE, turnName.c_str());
            WaitForSingleObject(turn, INFINITE);
            SetEvent(holding);
            WaitForSingleObject(release, INFINITE);
            ReleaseMutex(turn);
            CloseHandle(turn);
        });
        holds = WaitForSingleObject(holding, 5000) == WAIT_OBJECT_0;
    }
    ~StoppedWriter()
    {
        SetEvent(release);
        holder.join();
        CloseHandle(holding);
        CloseHandle(release);
    }
    HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, nullptr), release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder;
    bool holds = false;
};

// A writer stopped while it holds the turn (here a thread of this process,
// which owns the named mutex until the test ends): the load and the unload
// do not wait for it, the first line waits its time-out and no later line
// waits again; every line is written.
TEST(LogTurns, AStoppedWriterCostsOneTimeOutAndTheLoadNone)
{
    LogNamed log(true, false);
    std::unique_ptr<StoppedWriter> stopped(new StoppedWriter(log.path));
    ASSERT_TRUE(stopped->holds);

    const DWORD beforeLoad = GetTickCount();
    LibraryUnderTest* library = new LibraryUnderTest(); // JNI_OnLoad too: the worker's start is the load's
    const DWORD load = GetTickCount() - beforeLoad;
    const std::vector<double> costs = writeNumberedLines("stalled", 20);
    const DWORD beforeUnload = GetTickCount();
    delete library;
    const DWORD unload = GetTickCount() - beforeUnload;
    stopped.reset();

    std::printf("load %lu ms, unload %lu ms, first line %.1f ms, the 19 after it %.1f ms\n", load, unload, costs[0],
                sum(costs, 1));
    EXPECT_GT(500u, load) << "ms, the load";
    EXPECT_GT(500u, unload) << "ms, the unload";
    EXPECT_LT(900, costs[0]) << "ms, the first line: it waits its turn's time-out";
    EXPECT_GT(500, sum(costs, 1)) << "ms, the 19 lines after it";
    const std::vector<Line> lines = readLog(log.path);
    // The library's load line, and this program's own writer's.
    EXPECT_EQ(2, std::count_if(lines.begin(), lines.end(),
                               [](const Line& line) { return startsWith(line.text, "load dovrikna "); }));
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                               [](const Line& line) { return line.text == "unload (the library is freed)"; }));
    EXPECT_EQ(20, std::count_if(lines.begin(), lines.end(),
                                [](const Line& line) { return startsWith(line.text, "stalled "); }));
}

// Past a stopped writer every thread of the process appends without the
// turn, at once: Wine's appends through two handles overwrite each other,
// and lines came torn or went missing (1 to 3 of 4000).
TEST(LogTurns, ThreadsWritingPastAStoppedWriterTearNoLine)
{
    LogNamed log(true, false);
    StoppedWriter stopped(log.path);
    ASSERT_TRUE(stopped.holds);
    writeNumberedLines("first", 1);
    const int kThreads = 4, kLines = 1000;
    auto text = [](int thread, int i) { return "t" + std::to_string(thread) + " " + std::string(i % 200, 'a' + thread) + " " + std::to_string(i); };
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([t, &text] {
            for (int i = 0; i < kLines; ++i) {
                dovrikna::LogLine line;
                dovrikna::writeLogLine(line.text(text(t, i).c_str()));
            }
        });
    for (std::thread& writer : writers) writer.join();
    const std::vector<Line> lines = readLog(log.path);
    std::vector<int> next(kThreads, 0);
    for (const Line& line : lines)
        for (int t = 0; t < kThreads; ++t)
            if (next[t] < kLines && line.text == text(t, next[t])) ++next[t];
    EXPECT_EQ(std::vector<int>(kThreads, kLines), next) << "lines of each thread read whole and in order up to its first torn or missing one";
}

} // namespace
