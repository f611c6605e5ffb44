// The conversation log (DOVRIKNA_LOG) over a scan through the natives with
// the stand-in source manager: the lines a support engineer reads, and no
// file at all when the variable was not set at load. And the file itself:
// its rotation while a reader holds it open, and two processes writing it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dovrikna_version.h"
#include "frame/conversation_log.h"
#include "frame/log_line.h"
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
    DWORD thread;
    std::string text;
};

// "2026-12-07 13:45:01.123 thread 66: text", each line checked for that form.
std::vector<Line> readLog(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Line> lines;
    for (std::string raw; std::getline(in, raw);) {
        EXPECT_TRUE(!raw.empty() && raw.back() == '\r') << "no CRLF: " << raw;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        unsigned year, month, day, hour, minute, second, ms;
        unsigned long thread;
        int consumed = 0;
        const bool stamped = std::sscanf(raw.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u thread %lu: %n", &year, &month,
                                         &day, &hour, &minute, &second, &ms, &thread, &consumed) == 8 &&
                             consumed > 0 && raw[10] == ' ' && raw[23] == ' ';
        EXPECT_TRUE(stamped) << "no time stamp or thread: " << raw;
        if (stamped) lines.push_back({static_cast<DWORD>(thread), raw.substr(consumed)});
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
        {"user interface of source \"Standin Default\" shown: the scan waits for the user", worker},
        {"DSM CONTROL/USERINTERFACE/ENABLEDS", worker},
        {"DSM CONTROL/EVENT/PROCESSEVENT to source \"Standin Default\" XFERREADY -> DSEVENT", worker},
        {"DSM CONTROL/CAPABILITY/GET to source \"Standin Default\" XFERMECH ENUMERATION [NATIVE,FILE,MEMORY]", worker},
        {"DSM CONTROL/SETUPFILEXFER/SET to source \"Standin Default\" \"" + temp + "kel0.tmp\" format 0xFFFF",
         worker},
        {"DSM CONTROL/PENDINGXFERS/ENDXFER to source \"Standin Default\" Count 0 -> SUCCESS", worker},
        {"file 1 handed over: \"" + temp + "kel0.tmp\"", worker},
        {"report FILE_READY, status 2", worker},
        {"user interface of source \"Standin Default\" closed", worker},
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

void writeNumberedLines(const std::string& name)
{
    dovrikna::openConversationLog(nullptr);
    const std::string word = ansiWord();
    for (int i = 0; i < kWriterLines; ++i) {
        dovrikna::LogLine line;
        line.text(name.c_str()).text(" ").text(word.c_str()).text(" ").number(i);
        dovrikna::writeLogLine(line);
    }
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
        turns += last != -1 && writer != last;
        last = writer;
        EXPECT_EQ(std::to_string(next[writer]++), line.text.substr(line.text.rfind(' ') + 1));
    }
    EXPECT_EQ(kWriterLines, next[0]);
    EXPECT_EQ(kWriterLines, next[1]);
    EXPECT_LT(0, turns) << "the two processes never wrote at the same time";
}

} // namespace
