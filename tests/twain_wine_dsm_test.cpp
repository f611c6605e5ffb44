// Scanning through Wine's own source manager (its builtin TWAIN_32.DLL), which
// finds our scripted source under the module name "sane.ds" beside this
// program (WINEDLLOVERRIDES gphoto2.ds=d hides Wine's other source). The test
// plays the user in the manager's "Select Source" dialog and in the source's
// window, and the Java side through the natives.
#include <windows.h>

#include <string>
#include <vector>

#include "scanning_fixture.h"
#include "standins/twain_standin.h"

namespace {

using namespace scanning;
using Lines = std::vector<std::string>;

// Wine's manager loads its sources from the prefix's C:\windows\twain_32,
// or twain_64 for the 64-bit manager: the scripted source is put there before
// the library loads.
std::string installSaneStandin()
{
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string source(program);
    source.resize(source.rfind('\\') + 1);
    source += "sane.ds";
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string folder = std::string(windows) + (sizeof(void*) == 8 ? "\\twain_64" : "\\twain_32");
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string target = folder + "\\sane.ds";
    CopyFileA(source.c_str(), target.c_str(), FALSE);
    return target;
}

// The scripted source, loaded by the test too (by the path the manager uses),
// so that its state lives on between the manager's loads.
struct SaneStandin {
    HMODULE module = LoadLibraryA(installSaneStandin().c_str());
    void (*setPages)(int) = module ? reinterpret_cast<void (*)(int)>(GetProcAddress(module, "sane_set_pages")) : nullptr;
    HWND (*window)() = module ? reinterpret_cast<HWND (*)()>(GetProcAddress(module, "sane_source_window")) : nullptr;
    int (*logText)(char*, int) = module ? reinterpret_cast<int (*)(char*, int)>(GetProcAddress(module, "sane_log")) : nullptr;
    int (*problemText)(char*, int) = module ? reinterpret_cast<int (*)(char*, int)>(GetProcAddress(module, "sane_problems")) : nullptr;

    bool loaded() const { return setPages && window && logText && problemText; }
    static std::string text(int (*get)(char*, int))
    {
        std::string buffer(get(nullptr, 0) + 1, '\0');
        get(&buffer[0], static_cast<int>(buffer.size()));
        buffer.resize(buffer.size() - 1);
        return buffer;
    }
    Lines log() const
    {
        Lines lines;
        std::string all = text(logText);
        for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(all.substr(start, end - start));
        return lines;
    }
    std::string problems() const { return text(problemText); }
};

// The manager's selection dialog: a dialog with a list box of the sources.
HWND findSelectionDialog(HWND* list)
{
    HWND dialog = nullptr;
    while ((dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)) != nullptr) {
        if (HWND box = FindWindowExA(dialog, nullptr, "ListBox", nullptr)) {
            *list = box;
            return dialog;
        }
    }
    return nullptr;
}

class WineManager : public JavaSide {
protected:
    void SetUp() override
    {
        JavaSide::SetUp();
        ASSERT_TRUE(sane.loaded()) << "sane.ds beside the test program";
    }
    void TearDown() override { EXPECT_EQ("", sane.problems()); }

    // Waits for the dialog, picks the source named `name` and presses OK, or
    // presses Cancel when name is null. Returns the names the dialog listed.
    Lines answerSelection(const char* name)
    {
        HWND list = nullptr;
        HWND dialog = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (dialog = findSelectionDialog(&list)) != nullptr; }))
            << "the manager's selection dialog";
        if (!dialog) return {};
        Lines names;
        // The dialog fills its list while it starts: wait for the entries.
        waitUntil([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) > 0; }, 2000);
        LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[256] = "";
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            names.push_back(text);
            if (name && names.back() == name) SendMessageA(list, LB_SETCURSEL, i, 0);
        }
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(name ? IDOK : IDCANCEL, BN_CLICKED), 0);
        return names;
    }

    void pressScan()
    {
        ASSERT_TRUE(waitUntil([&] { return sane.window() != nullptr; })) << "the source was not enabled";
        PostMessageA(sane.window(), standin::kScanButton, 0, 0);
    }

    SaneStandin sane;
};

TEST_F(WineManager, SelectionInTheManagersDialog)
{
    selectSource();
    EXPECT_EQ((Lines{"Standin Sane Scanner"}), answerSelection("Standin Sane Scanner"));
    EXPECT_EQ(kIdle, pollSelect());

    selectSource();
    answerSelection(nullptr);
    EXPECT_EQ(kSignalled, pollSelect()) << "cancelled";
}

TEST_F(WineManager, MultiPageAcquisitionAfterASelection)
{
    selectSource();
    answerSelection("Standin Sane Scanner");
    ASSERT_EQ(kIdle, pollSelect());

    sane.setPages(3);
    acquire();
    pressScan();
    EXPECT_EQ((Lines{temp + "kel0.tif", temp + "kel1.tif", temp + "kel2.tif"}), collect());
    const Lines transfer = {"IMAGEINFO", "", "IMAGEFILEXFER", ""};
    // The file transfer the source lists is set before it is enabled.
    Lines expected = {"OPENDS", "GET 259", "SET 259 1", "ENABLEDS 1", "GET 259", "GET 4364"};
    for (int page = 0; page < 3; ++page) {
        expected.push_back("IMAGEINFO");
        expected.push_back("SETUPFILEXFER " + temp + "kel" + std::to_string(page) + ".tif 0");
        expected.push_back("IMAGEFILEXFER");
        expected.push_back("ENDXFER " + std::to_string(2 - page));
    }
    expected.insert(expected.end(), {"DISABLEDS 255", "CLOSEDS"});
    EXPECT_EQ(expected, sane.log());

    // A second acquisition, with the default the manager gives: one page.
    sane.setPages(1);
    acquire();
    pressScan();
    EXPECT_EQ((Lines{temp + "kel3.tif"}), collect());
}

TEST_F(WineManager, ClosingTheSourceWindowEndsTheAcquisition)
{
    acquire();
    ASSERT_TRUE(waitUntil([&] { return sane.window() != nullptr; }));
    PostMessageA(sane.window(), standin::kCloseButton, 0, 0);
    EXPECT_EQ(kFinished, pollImage());
    EXPECT_EQ((Lines{"OPENDS", "GET 259", "SET 259 1", "ENABLEDS 1", "DISABLEDS 255", "CLOSEDS"}), sane.log());
}

} // namespace
