// dovrikna-try.exe, one smoke run per command, as a support engineer types
// them: the stand-in source manager for sources and scan, the recording
// mapi32 for mail, the open_recorder association for open, our media
// detector for thumb, Wine's own file system for drive and docs.
#include <windows.h>

#include <gtest/gtest.h>

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

// dovrikna-try.exe started with its output going to files.
class Tool {
public:
    explicit Tool(const std::vector<std::string>& args)
    {
        const std::string base = programFolder() + "try-" + std::to_string(GetCurrentProcessId());
        out_ = base + ".out";
        err_ = base + ".err";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(out_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA(err_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
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

    std::string out, err;

private:
    std::string out_, err_;
    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
};

TEST(TryTool, SourcesChoosesTheStandinManagersSource)
{
    Tool tool({"sources"});
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ("A source was chosen.\n", tool.out);
}

TEST(TryTool, ScanPrintsThePageCopiesItAndLogsTheConversation)
{
    const std::string temp = twaintest::useFreshTempDirectory("try-scan");
    const std::string copies = temp + "copies";
    const std::string log = temp + "conversation.log";
    CreateDirectoryA(copies.c_str(), nullptr);
    Tool tool({"--log", log, "scan", "--dir", copies});
    HWND source = nullptr;
    ASSERT_TRUE(twaintest::waitUntil([&] { return (source = FindWindowA(standin::kSourceWindowClass, nullptr)); },
                                     30000))
        << "the source's window never came up";
    PostMessageA(source, standin::kScanButton, 0, 0);
    ASSERT_EQ(0, tool.finish()) << tool.err;
    EXPECT_EQ((std::vector<std::string>{temp + "kel0.tif", "  copied to " + copies + "\\kel0.tif", "1 page."}),
              linesOf(tool.out));
    EXPECT_EQ("standin page 1\n", readFile(copies + "\\kel0.tif"));
    const std::vector<std::string> logged = linesOf(readFile(log));
    ASSERT_FALSE(logged.empty());
    EXPECT_NE(std::string::npos, readFile(log).find("DSM IMAGE/IMAGEFILEXFER/GET to source \"Standin Default\" -> XFERDONE"));
    // The manager was closed when the scan ended: the tool's FreeLibrary unloads the library.
    EXPECT_NE(std::string::npos, logged.back().find(": unload (the library is freed)")) << logged.back();
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
    EXPECT_EQ("Opened " + file + " with its program.\n", tool.out);
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
    EXPECT_EQ("Handed 2 file(s) to the mail client.\n", tool.out);
    const std::string log = readFile(mapiLog);
    DeleteFileA(mapiLog.c_str());
    for (const std::string& expected : std::vector<std::string>{"address=\"a@example.org\"", "address=\"b@example.org\"",
                                        "path=\"" + first + "\"", "path=\"" + second + "\""})
        EXPECT_NE(std::string::npos, log.find(expected)) << expected << " in\n" << log;
}

TEST(TryTool, MistakesAndFailuresEndWithAMessageAndACode)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } runs[] = {
        {{}, 2, "usage: dovrikna-try"},
        {{"scan", "--to", "x"}, 2, "usage: dovrikna-try"},
        {{"thumb", programFolder() + "no-such.avi", programFolder() + "no.bmp"}, 1, "no frame could be taken"},
    };
    for (const auto& run : runs) {
        Tool tool(run.args);
        EXPECT_EQ(run.code, tool.finish()) << tool.err;
        EXPECT_NE(std::string::npos, tool.err.find(run.says)) << tool.err;
        EXPECT_EQ("", tool.out);
    }
}

} // namespace
