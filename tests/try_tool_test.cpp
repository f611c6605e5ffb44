// dovrikna-try.exe, one smoke run per command, as a support engineer types
// them: the stand-in source manager for sources and scan, the recording
// mapi32 for mail, the open_recorder association for open, our media
// detector for thumb, Wine's own file system for drive and docs; and the
// README's example run, with Wine's gphoto2.ds on the photo-folder camera and
// a clip made by ffmpeg (built apart as DOVRIKNA_README_RUN: it runs through
// wine-run-camera, with Wine's own manager instead of the stand-in).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media_det_registration.h"
#include "open_recorder_client.h"
#include "standins/media_detector_standin.h"
#include "standins/twain_standin.h"
#include "twain_test_support.h"

namespace {

using twaintest::programFolder;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// dovrikna-try.exe started with its output going to files of its own: a
// process that the tool started and that outlives it (under Wine, the
// desktop process that a first window starts) may still hold them.
class Tool {
public:
    explicit Tool(const std::vector<std::string>& args)
    {
        static int runs = 0;
        const std::string base =
            programFolder() + "try-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs);
        out_ = base + ".out";
        err_ = base + ".err";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE out = CreateFileA(out_.c_str(), GENERIC_WRITE, share, &inherit, CREATE_NEW, 0, nullptr);
        HANDLE err = CreateFileA(err_.c_str(), GENERIC_WRITE, share, &inherit, CREATE_NEW, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "could not make " << base << ".out/.err, error " << GetLastError();
            if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
            if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
            return;
        }
        std::string line = "\"" + programFolder() + "dovrikna-try.exe\"";
        // Quoted as the runtime splits them: backslashes before the closing quote doubled.
        for (const std::string& arg : args) {
            const size_t kept = arg.find_last_not_of('\\') + 1;
            line += " \"" + arg + std::string(arg.size() - kept, '\\') + "\"";
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        started_ = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
        CloseHandle(out);
        CloseHandle(err);
    }
    ~Tool()
    {
        if (started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
        if (started_) {
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        DeleteFileA(out_.c_str());
        DeleteFileA(err_.c_str());
    }

    // Waits for the end; the exit code, or -1 when it did not end in time.
    int finish(DWORD ms = 60000)
    {
        if (!started_ || WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        out = readFile(out_);
        err = readFile(err_);
        return static_cast<int>(code);
    }

    // The stderr written so far, while the tool runs.
    std::string errSoFar() const { return readFile(err_); }

    // A message box of the tool's process that is up, or null.
    HWND box() const
    {
        for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
             window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (started_ && process == process_.dwProcessId && IsWindowVisible(window)) return window;
        }
        return nullptr;
    }

    std::string out, err;

private:
    std::string out_, err_;
    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
};

#ifndef DOVRIKNA_README_RUN

TEST(TryTool, SourcesChoosesTheStandinManagersSource)
{
    Tool tool({"sources"});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ("A source was chosen; the choice holds for this run only (scan --choose chooses, then scans).\n",
              tool.out);
}

TEST(TryTool, ScanPrintsThePageCopiesItAndLogsTheConversation)
{
    const std::string temp = twaintest::useFreshTempDirectory("try-scan");
    // Two folders that do not exist yet: the tool makes them.
    const std::string copies = temp + "copies\\day1";
    const std::string log = temp + "conversation.log";
    Tool tool({"--log", log, "scan", "--dir", copies});
    HWND source = nullptr;
    ASSERT_TRUE(twaintest::waitUntil([&] { return (source = FindWindowA(standin::kSourceWindowClass, nullptr)); },
                                     30000))
        << "the source's window never came up";
    PostMessageA(source, standin::kScanButton, 0, 0);
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ((std::vector<std::string>{"Made the folder " + copies + ".", temp + "kel0.tif",
                                        "  copied to " + copies + "\\kel0.tif", "1 page."}),
              linesOf(tool.out));
    EXPECT_EQ("standin page 1\n", readFile(copies + "\\kel0.tif"));
    const std::vector<std::string> logged = linesOf(readFile(log));
    ASSERT_FALSE(logged.empty());
    EXPECT_NE(std::string::npos, readFile(log).find("DSM IMAGE/IMAGEFILEXFER/GET to source \"Standin Default\" -> XFERDONE"));
    // The manager was closed when the scan ended: the tool's FreeLibrary unloads the library.
    EXPECT_NE(std::string::npos, logged.back().find(": unload (the library is freed)")) << logged.back();
}

// The choice of --choose is the one the scan takes: the user's source, not the default.
TEST(TryTool, ScanChooseScansFromTheSourceChosenInTheSameRun)
{
    const std::string temp = twaintest::useFreshTempDirectory("try-choose");
    const std::string log = temp + "conversation.log";
    Tool tool({"--log", log, "scan", "--choose"});
    HWND source = nullptr;
    ASSERT_TRUE(twaintest::waitUntil([&] { return (source = FindWindowA(standin::kSourceWindowClass, nullptr)); },
                                     30000))
        << "the source's window never came up";
    PostMessageA(source, standin::kScanButton, 0, 0);
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ((std::vector<std::string>{
                  "A source was chosen; the choice holds for this run only (scan --choose chooses, then scans).",
                  temp + "kel0.tif", "1 page."}),
              linesOf(tool.out));
    const std::string conversation = readFile(log);
    EXPECT_NE(std::string::npos, conversation.find("IMAGEFILEXFER/GET to source \"Standin Scanner\" -> XFERDONE"))
        << conversation;
}

TEST(TryTool, ThumbWritesTheFrameAsABitmap)
{
    ASSERT_TRUE(MediaDetRegistration::install(wide(programFolder() + "media_detector_standin.dll")));
    // Rows of 15 bytes: each is padded to 16 in the file.
    SetEnvironmentVariableA("DOVRIKNA_STANDIN_VIDEO", "5x3");
    const std::string bmp = programFolder() + "try-thumb.bmp";
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    Tool tool({"thumb", exe, bmp});
    const int code = tool.finish();
    MediaDetRegistration::restore();
    ASSERT_EQ(0, code) << tool.err;
    EXPECT_EQ("5x3 frame written to " + bmp + "\n", tool.out);

    const std::string file = readFile(bmp);
    DeleteFileA(bmp.c_str());
    ASSERT_EQ(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + 3 * 16, file.size());
    BITMAPINFOHEADER info;
    memcpy(&info, file.data() + sizeof(BITMAPFILEHEADER), sizeof info);
    EXPECT_EQ("BM", file.substr(0, 2));
    EXPECT_EQ(5, info.biWidth);
    EXPECT_EQ(3, info.biHeight);
    EXPECT_EQ(24, info.biBitCount);
    for (size_t row = 0; row < 3; ++row)
        for (size_t i = 0; i < 15; ++i)
            ASSERT_EQ(standinPixel(row * 15 + i), static_cast<BYTE>(file[54 + row * 16 + i])) << row << " " << i;
}

TEST(TryTool, DriveTellsKindAndFreeSpace)
{
    const struct {
        const char* root;
        const char* kind;
    } drives[] = {{"C:\\", "C:\\: fixed disk (2)"}, {"D:\\", "D:\\: CD-ROM drive (4)"}};
    for (const auto& drive : drives) {
        Tool tool({"drive", drive.root});
        ASSERT_EQ(0, tool.finish()) << tool.err;
        const std::vector<std::string> lines = linesOf(tool.out);
        ASSERT_EQ(2u, lines.size()) << tool.out;
        EXPECT_EQ(drive.kind, lines[0]);
        EXPECT_EQ(0u, lines[1].find("free: ")) << lines[1];
    }
}

TEST(TryTool, DocsPrintsAnExistingFolder)
{
    Tool tool({"docs"});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    const std::vector<std::string> lines = linesOf(tool.out);
    ASSERT_EQ(1u, lines.size()) << tool.out;
    const DWORD attributes = GetFileAttributesA(lines[0].c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << lines[0];
}

TEST(TryTool, OpenStartsTheAssociatedProgram)
{
    OpenRecorder recorder;
    const std::string file = recorder.file("report.dvkopen");
    Tool tool({"open", file});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ("Asked the shell to open " + file + "; whether a program started is not known.\n", tool.out);
    EXPECT_EQ("", tool.err);
    const auto records = recorder.waitForRecords(1);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ((std::vector<std::string>{records[0][0], file}), records[0]);
}

TEST(TryTool, MailHandsFilesAndRecipientsToTheClient)
{
    const std::string mapiLog = programFolder() + "try-mapi-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(mapiLog.c_str());
    SetEnvironmentVariableA("DOVRIKNA_MAPI_LOG", mapiLog.c_str());
    const std::string first = programFolder() + "version_tests.exe", second = programFolder() + "dovrikna.dll";
    Tool tool({"mail", "--to", "a@example.org", "--to", "b@example.org", first, second});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ("Gave 2 file(s) to the mail client; no refusal was told.\n", tool.out);
    const std::string log = readFile(mapiLog);
    DeleteFileA(mapiLog.c_str());
    for (const std::string& expected : std::vector<std::string>{"address=\"a@example.org\"", "address=\"b@example.org\"",
                                        "path=\"" + first + "\"", "path=\"" + second + "\""})
        EXPECT_NE(std::string::npos, log.find(expected)) << expected << " in\n" << log;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(TryTool, MistakesAndFailuresEndWithAMessageAndACode)
{
    const std::string missing = programFolder() + "no-such-folder\\";
    const std::string aFile = programFolder() + "dovrikna.dll";
    const std::string longLog = programFolder() + std::string(MAX_PATH, 'l') + ".log";
    const std::string temp = twaintest::useFreshTempDirectory("try-mistakes");
    const std::string bmp = temp + "no.bmp", noFrame = "no frame could be taken from ";
    const std::string empty = temp + "empty.avi", cut = temp + "cut.avi", text = temp + "notes.avi";
    const std::string noIndex = temp + "unfinished.mp4", moved = temp + "moved.txt";
    writeFile(empty, "");
    writeFile(cut, std::string("RIFF\xA0\x86\x01\x00" "AVI LIST", 16) + std::string(48, '\0')); // promises 100008
    writeFile(text, "These are notes, not a video.\n");
    writeFile(noIndex, std::string("\0\0\0\x10" "ftypisom\0\0\0\0" "\0\0\0\x08" "mdat", 24));
    writeFile(temp + "a.txt", "a");
    writeFile(temp + "b.txt", "b");
    // A file whose path is longer than the shell takes (in folders of 200 characters each).
    OpenRecorder recorder;
    const std::string deep = recorder.folder(std::string(200, 'd') + "\\" + std::string(200, 'e'));
    const std::string longFile = deep + "\\report.dvkopen";
    writeFile(longFile, "");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string says, out;
        const char* variable = nullptr; // set for this run only
        const char* value = nullptr;
        bool box = false; // the library's message box comes up, and is answered
    } runs[] = {
        {{}, 2, "usage: dovrikna-try", ""},
        {{"scan", "--to", "x"}, 2, "usage: dovrikna-try", ""},
        {{"sources", "--choose"}, 2, "usage: dovrikna-try", ""},
        // Why no frame came, as far as the file tells.
        {{"thumb", programFolder() + "no-such.avi", bmp}, 1, noFrame + programFolder() + "no-such.avi: there is no such file", ""},
        {{"thumb", temp, bmp}, 1, noFrame + temp + ": it is a folder, not a video", ""},
        {{"thumb", empty, bmp}, 1, noFrame + empty + ": the file is empty (0 bytes)", ""},
        {{"thumb", cut, bmp}, 1, noFrame + cut + ": the file is cut short: its AVI header promises 100008 bytes, it has 64", ""},
        {{"thumb", noIndex, bmp}, 1,
         noFrame + noIndex + ": the file has no index (MP4/QuickTime 'moov' box): a recording that was not finished", ""},
        {{"thumb", text, bmp}, 1, noFrame + text + ": it is not a video: it begins as no video format this tool knows", ""},
        {{"--timeout", "abc", "docs"}, 2, "--timeout wants a whole number of seconds from 1, not abc", ""},
        {{"--timeout", "0", "docs"}, 2, "not 0", ""},
        {{"--timeout", "5s", "docs"}, 2, "not 5s", ""},
        {{"--log", missing + "x.log", "docs"}, 2, "the folder of the log file " + missing + "x.log does not exist", ""},
        // A name the library does not take (MAX_PATH or longer): the run goes on, and says so.
        {{"--log", longLog, "thumb", programFolder() + "no-such.avi", programFolder() + "no.bmp"}, 1,
         "the library wrote no log to " + longLog, ""},
        {{"scan", "--dir", aFile + "\\copies"}, 2, "could not make the folder " + aFile + "\\copies", ""},
        {{"scan", "--dir", aFile}, 2, "could not make the folder " + aFile + " (a file has that name)", ""},
        // The library only starts a thread that asks the shell: what it knows is said.
        {{"open", missing + "x.txt"}, 0, "note: " + missing + "x.txt does not exist",
         "Asked the shell to open " + missing + "x.txt; whether a program started is not known.\n"},
        {{"open", missing + std::string(MAX_PATH, 'x') + ".txt"}, 1,
         "the shell opens no path of 260 characters or more, and " + missing + std::string(MAX_PATH, 'x') +
             ".txt (" + std::to_string(missing.size() + MAX_PATH + 4) + ") does not exist: nothing was opened", ""},
        {{"mv", temp + "a.txt", temp + "b.txt"}, 1,
         "could not move " + temp + "a.txt to " + temp + "b.txt: " + temp + "b.txt exists already", ""},
        {{"mv", temp + "none.txt", moved}, 1, "could not move " + temp + "none.txt to " + moved + ": " + temp +
                                                 "none.txt does not exist", ""},
        {{"mv", temp + "a.txt", moved}, 0, "", "Moved " + temp + "a.txt to " + moved + ".\n"},
        // The library's boxes wait for the person at the screen: the tool says so.
        {{"--timeout", "60", "scan"}, 1,
         "the library shows a message box and waits until it is answered: \"Error\": \"Failed to connect to data "
         "source manager.\"", "", "DOVRIKNA_STANDIN_OPENDSM_FAILS", "1", true},
        {{"mail", aFile}, 1,
         "the mail was refused; the library told: The mail was not made: an attachment was not found (MAPI error 11).",
         "", "DOVRIKNA_MAPI_SEND_RESULT", "11", true},
    };
    for (const auto& run : runs) {
        char saved[256] = "";
        const bool hadValue = run.variable && GetEnvironmentVariableA(run.variable, saved, sizeof saved) > 0;
        if (run.variable) SetEnvironmentVariableA(run.variable, run.value);
        Tool tool(run.args);
        if (run.variable) SetEnvironmentVariableA(run.variable, hadValue ? saved : nullptr);
        if (run.box) {
            HWND box = nullptr;
            EXPECT_TRUE(twaintest::waitUntil(
                [&] { return tool.errSoFar().find("shows a message box") != std::string::npos && (box = tool.box()); },
                30000))
                << run.args.back() << ": no box told of; stderr so far:\n" << tool.errSoFar();
            if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(run.code, tool.finish()) << tool.err;
        EXPECT_NE(std::string::npos, tool.err.find(run.says)) << run.says << " in\n" << tool.err;
        EXPECT_EQ(run.out, tool.out);
    }
    // A path too long for the shell goes by its folder's short name: the associated program gets the file.
    Tool tool({"open", longFile});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    const auto records = recorder.waitForRecords(1);
    ASSERT_EQ(1u, records.size()) << tool.out;
    ASSERT_EQ(2u, records[0].size());
    EXPECT_LT(records[0][1].size(), static_cast<size_t>(MAX_PATH)) << records[0][1];
    wchar_t full[1024];
    const DWORD length = GetLongPathNameW(wide(records[0][1]).c_str(), full, 1024);
    EXPECT_EQ(longFile, utf8(std::wstring(full, length < 1024 ? length : 0))) << records[0][1];
    EXPECT_EQ(0u, tool.out.find("Asked the shell to open " + longFile + " as " + records[0][1] + " (its folder's short"))
        << tool.out;
}

#else

// The README's example run: a real source (Wine's gphoto2.ds reading the
// build's photo folder as a camera, without its dialog) and a real clip.
TEST(TryTool, ReadmeExampleRunScansTheCameraAndTakesAClipsFrame)
{
    const char* camera = std::getenv("DOVRIKNA_CAMERA");
    if (!camera || std::string(camera) != "mounted")
        GTEST_SKIP() << "the camera folder is not mounted (" << (camera ? camera : "not run through wine-run-camera")
                     << "): mounting it in a private namespace needs root";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Gphoto2", 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr));
    const DWORD one = 1;
    RegSetValueExA(key, "SkipUI", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    const std::string temp = twaintest::useFreshTempDirectory("try-readme");
    const std::string scans = temp + "scans", log = temp + "scan.log";

    Tool scan({"--log", log, "scan", "--dir", scans});
    ASSERT_EQ(0, scan.finish()) << scan.err;
    std::vector<std::string> expected{"Made the folder " + scans + "."};
    for (const char* page : {"kel0.bmp", "kel1.bmp", "kel2.bmp", "kel3.bmp"})
        for (const std::string& line : {temp + page, "  copied to " + scans + "\\" + page}) expected.push_back(line);
    expected.push_back("4 pages.");
    EXPECT_EQ(expected, linesOf(scan.out));
    // The camera's own "Transferring" dialog is not the library's box.
    EXPECT_EQ(std::string::npos, scan.err.find("message box")) << scan.err;
    const std::string conversation = readFile(log);
    // The source lists memory transfer alone (its current mechanism): each
    // photo comes in strips, the last one with XFERDONE.
    EXPECT_NE(std::string::npos, conversation.find("transfer mechanism MEMORY set: pages by memory")) << conversation;
    size_t pages = 0;
    for (const std::string& line : linesOf(conversation))
        if (line.find("DSM IMAGE/IMAGEMEMXFER/GET to source \"Mass Storage Camera\" rows ") != std::string::npos &&
            line.find("-> XFERDONE") != std::string::npos)
            ++pages;
    EXPECT_EQ(4u, pages) << conversation;

    // The frame within 3 on average of ffmpeg's own decode (top-down rows).
    const std::string bmp = temp + "first.bmp";
    Tool thumb({"thumb", programFolder() + "mjpeg.avi", bmp});
    ASSERT_EQ(0, thumb.finish()) << thumb.err;
    EXPECT_EQ("240x180 frame written to " + bmp + "\n", thumb.out);
    const std::string file = readFile(bmp), reference = readFile(programFolder() + "mjpeg.avi.bgr");
    ASSERT_EQ(54u + 240 * 180 * 3, file.size());
    ASSERT_EQ(240u * 180 * 3, reference.size());
    double difference = 0;
    for (size_t row = 0; row < 180; ++row)
        for (size_t i = 0; i < 240 * 3; ++i)
            difference += std::abs(static_cast<BYTE>(file[54 + (179 - row) * 720 + i]) -
                                   static_cast<BYTE>(reference[row * 720 + i]));
    EXPECT_LE(difference / reference.size(), 3.0);
}

#endif

} // namespace
