// The file-system natives against Wine's real file system and drives.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "library_test.h"

namespace {

class FileSystemTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "dovrikna-fs-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
        ASSERT_TRUE(CreateDirectoryA((dir_ + "\\sub").c_str(), nullptr));
    }
    void TearDown() override
    {
        // Tests leave at most these behind.
        for (const char* name : {"\\a.jpg", "\\b.jpg", "\\sub\\a.jpg", "\\sub\\b.jpg"})
            DeleteFileA((dir_ + name).c_str());
        RemoveDirectoryA((dir_ + "\\sub").c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    void writeFile(const std::string& path, const std::string& content)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::string readFile(const std::string& path)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "<missing>";
        char buffer[256];
        DWORD read = 0;
        ReadFile(file, buffer, sizeof buffer, &read, nullptr);
        CloseHandle(file);
        return std::string(buffer, read);
    }
    jboolean mv(const std::string& from, const std::string& to)
    {
        return lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(from), jvm.newString(to));
    }
    jint driveType(const char* root)
    {
        return lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, jvm.newString(root));
    }

    std::string dir_;
};

TEST_F(FileSystemTest, MoveRenamesWithinADirectoryAndMovesBetweenDirectories)
{
    writeFile(dir_ + "\\a.jpg", "first");
    EXPECT_EQ(JNI_TRUE, mv(dir_ + "\\a.jpg", dir_ + "\\b.jpg"));
    EXPECT_EQ("<missing>", readFile(dir_ + "\\a.jpg"));
    EXPECT_EQ("first", readFile(dir_ + "\\b.jpg"));

    EXPECT_EQ(JNI_TRUE, mv(dir_ + "\\b.jpg", dir_ + "\\sub\\a.jpg"));
    EXPECT_EQ("<missing>", readFile(dir_ + "\\b.jpg"));
    EXPECT_EQ("first", readFile(dir_ + "\\sub\\a.jpg"));

    // Each string is taken and given back, source first both times.
    std::vector<std::string> expected = {"GetStringUTFChars", "GetStringUTFChars", "ReleaseStringUTFChars",
                                         "ReleaseStringUTFChars"};
    std::vector<std::string> calls = jvm.calls();
    ASSERT_EQ(8u, calls.size());
    EXPECT_EQ(expected, std::vector<std::string>(calls.begin(), calls.begin() + 4));
}

TEST_F(FileSystemTest, MoveNeverReplacesAndFailsWithoutASource)
{
    writeFile(dir_ + "\\a.jpg", "first");
    writeFile(dir_ + "\\b.jpg", "second");
    EXPECT_EQ(JNI_FALSE, mv(dir_ + "\\a.jpg", dir_ + "\\b.jpg"));
    EXPECT_EQ("first", readFile(dir_ + "\\a.jpg"));
    EXPECT_EQ("second", readFile(dir_ + "\\b.jpg"));

    EXPECT_EQ(JNI_FALSE, mv(dir_ + "\\nothing.jpg", dir_ + "\\sub\\b.jpg"));
    EXPECT_EQ("<missing>", readFile(dir_ + "\\sub\\b.jpg"));
}

TEST_F(FileSystemTest, NullArgumentsAreRefusedWithoutTouchingAnything)
{
    writeFile(dir_ + "\\a.jpg", "first");
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, nullptr, jvm.newString(dir_ + "\\b.jpg")));
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(dir_ + "\\a.jpg"), nullptr));
    EXPECT_EQ("first", readFile(dir_ + "\\a.jpg"));
    EXPECT_EQ(0, lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, nullptr));

    jlongArray pair = jvm.newLongArray({-7, -7});
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, nullptr, pair));
    EXPECT_EQ(JNI_FALSE,
              lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString("C:\\"), nullptr));
    EXPECT_EQ((std::vector<jlong>{-7, -7}), jvm.longs(pair));
}

TEST_F(FileSystemTest, DriveKindsFollowThePlatformsAnswerForThePathAsGiven)
{
    // The test prefix maps D: to a CD-ROM, N: to a network share, F: to a
    // floppy and R: to a RAM disk; Q: is unused.
    EXPECT_EQ(2, driveType("C:\\"));
    EXPECT_EQ(4, driveType("D:\\"));
    EXPECT_EQ(3, driveType("N:\\"));
    EXPECT_EQ(1, driveType("F:\\"));
    EXPECT_EQ(5, driveType("R:\\"));
    EXPECT_EQ(0, driveType("Q:\\"));
    EXPECT_EQ(0, driveType("C:\\no such folder\\"));
    EXPECT_EQ(0, driveType(""));
}

TEST_F(FileSystemTest, FreeSpaceOfAnyDirectoryOfTheVolume)
{
    jlongArray pair = jvm.newLongArray({-7, -7});
    ASSERT_EQ(JNI_TRUE, lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString(dir_ + "\\sub"), pair));
    const std::vector<jlong>& values = jvm.longs(pair);
    EXPECT_GT(values[0], 0);
    EXPECT_LE(values[0], values[1]);

    ULARGE_INTEGER user, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(dir_.c_str(), &user, &total, &free));
    EXPECT_LE(static_cast<ULONGLONG>(values[1]), total.QuadPart);
}

TEST_F(FileSystemTest, FreeSpaceOfAMissingPathOrIntoAShortArrayLeavesTheArray)
{
    jlongArray pair = jvm.newLongArray({-7, -7});
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(
                             env(), nullptr, jvm.newString("Q:\\nowhere\\"), pair));
    EXPECT_EQ((std::vector<jlong>{-7, -7}), jvm.longs(pair));

    // One element cannot take the pair; the VM would raise an exception.
    jlongArray single = jvm.newLongArray({-7});
    EXPECT_EQ(JNI_FALSE,
              lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString("C:\\"), single));
    EXPECT_EQ((std::vector<jlong>{-7}), jvm.longs(single));
}

TEST_F(FileSystemTest, DocumentsFolderIsTheUsersPersonalFolder)
{
    jstring folder = lib.com_quenlark_util_FileSystem_getMyDocumentFolder0(env(), nullptr);
    ASSERT_NE(nullptr, folder);
    char expected[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, expected));
    EXPECT_STREQ(expected, jvm.bytesOf(folder).c_str());
}

} // namespace

namespace {

TEST_F(FileSystemTest, MissingDocumentsFolderGivesNullAndIsNotCreated)
{
    char documents[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents));
    std::string away = std::string(documents) + ".away";
    ASSERT_TRUE(MoveFileA(documents, away.c_str())) << documents;

    jstring folder = lib.com_quenlark_util_FileSystem_getMyDocumentFolder0(env(), nullptr);
    DWORD attributes = GetFileAttributesA(documents);
    MoveFileA(away.c_str(), documents);

    EXPECT_EQ(nullptr, folder);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes) << "the lookup created the folder";
}

} // namespace
