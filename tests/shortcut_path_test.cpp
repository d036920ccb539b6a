#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>

#include "startup/shortcut_path.h"

namespace {

const wchar_t STARTUP[] = L"C:\\Users\\ユーザー\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";

// Built in a buffer of exactly the size the rule asks for: the sanitizer
// flags a unit too many.
std::wstring ShortcutPath(const wchar_t* folder, const wchar_t* executable)
{
    const size_t units = ShortcutPathUnits(folder, executable);
    std::unique_ptr<wchar_t[]> path(new wchar_t[units]);
    FormatShortcutPath(path.get(), folder, executable);
    EXPECT_EQ(std::wcslen(path.get()) + 1, units);
    return path.get();
}

}  // namespace

TEST(FindFileName, TheLastPartOfThePath)
{
    struct {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\tools\\lumbrix.exe", L"lumbrix.exe"},
        {L"C:\\lumbrix.exe", L"lumbrix.exe"},
        {L"C:lumbrix.exe", L"lumbrix.exe"},
        {L"C:/tools/lumbrix.exe", L"lumbrix.exe"},
        {L"\\\\server\\share\\Lumbrix 0.2.EXE", L"Lumbrix 0.2.EXE"},
        {L"lumbrix.exe", L"lumbrix.exe"},
        {L"C:\\tools\\", L"tools\\"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(FindFileName(c.path), c.name);
    }
}

TEST(ShortcutPath, FolderBackslashFileNameAndLnk)
{
    struct {
        const wchar_t* executable;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\tools\\lumbrix.exe", L"lumbrix.exe.lnk"},  // the extension stays in the name
        {L"C:\\lumbrix.exe", L"lumbrix.exe.lnk"},
        {L"D:\\Programme\\キー\\renamed.exe", L"renamed.exe.lnk"},
        {L"C:\\tools\\noextension", L"noextension.lnk"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortcutPath(STARTUP, c.executable), std::wstring(STARTUP) + L"\\" + c.name);
    }
    EXPECT_EQ(ShortcutPath(L"", L"C:\\lumbrix.exe"), L"\\lumbrix.exe.lnk");
    const std::wstring deep = L"C:\\" + std::wstring(40000, L'f');
    EXPECT_EQ(ShortcutPath(deep.c_str(), L"C:\\lumbrix.exe"), deep + L"\\lumbrix.exe.lnk");
}

TEST(ExecutableInFolder, WholePartsInAnyCase)
{
    const wchar_t* const temp = L"C:\\Users\\太郎\\AppData\\Local\\Temp\\";
    struct {
        const wchar_t* executable;
        const wchar_t* folder;
        bool inside;
    } cases[] = {
        // Explorer's 実行 on an exe inside a zip.
        {L"C:\\Users\\太郎\\AppData\\Local\\Temp\\Temp1_Lumbrix-0.4-win64.zip\\Lumbrix-0.4\\lumbrix.exe", temp, true},
        {L"C:\\Users\\太郎\\AppData\\Local\\Temp\\lumbrix.exe", temp, true},
        {L"c:\\USERS\\太郎\\appdata\\local\\TEMP\\x\\lumbrix.exe", temp, true},
        {L"C:/Users/太郎/AppData/Local/Temp//x/lumbrix.exe", temp, true},
        {L"\\\\?\\C:\\Users\\太郎\\AppData\\Local\\Temp\\x\\lumbrix.exe", temp, true},
        {L"C:\\Users\\ＴＡＲＯ\\Temp\\lumbrix.exe", L"C:\\Users\\ｔａｒｏ\\Temp", true},
        {L"\\\\server\\share\\temp\\lumbrix.exe", L"\\\\server\\share\\temp\\", true},
        {L"C:\\Users\\太郎\\AppData\\Local\\Programs\\Lumbrix\\lumbrix.exe", temp, false},
        {L"C:\\Users\\太郎\\AppData\\Local\\Temporary\\lumbrix.exe", temp, false},
        {L"C:\\Users\\太郎\\AppData\\Local\\Temp", temp, false},
        {L"C:\\tools\\lumbrix.exe", L"C:\\", false},
        {L"C:\\tools\\lumbrix.exe", L"", false},
        {L"C:\\tools\\lumbrix.exe", L"C:\\tools", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExecutableInFolder(c.executable, c.folder), c.inside) << c.executable << L" in " << c.folder;
    }
}

TEST(StartsThisCopy, WholePathInAnyCaseOfAToZAndExactlySlashHide)
{
    const wchar_t* const exe = L"C:\\Tools\\Lumbrix-0.5\\lumbrix.exe";
    struct {
        const wchar_t* target;
        const wchar_t* arguments;
        bool ours;
    } cases[] = {
        {L"C:\\Tools\\Lumbrix-0.5\\lumbrix.exe", L"/hide", true},
        {L"c:\\TOOLS\\lumbrix-0.5\\LUMBRIX.EXE", L"/hide", true},
        {L"C:\\Tools\\Lumbrix-0.4\\lumbrix.exe", L"/hide", false},  // an update unpacked into a new folder
        {L"C:\\Tools\\Lumbrix-0.5\\lumbrix.exe.bak", L"/hide", false},
        {L"C:\\Tools\\Lumbrix-0.5\\lumbrix.ex", L"/hide", false},
        {L"C:\\Tools\\Lumbrix-0.5\\lumbrix.exe", L"", false},
        {L"C:\\Tools\\Lumbrix-0.5\\lumbrix.exe", L"/hidex", false},
        {L"", L"/hide", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StartsThisCopy(c.target, c.arguments, exe), c.ours) << c.target << L" " << c.arguments;
    }
    EXPECT_FALSE(StartsThisCopy(L"C:\\ｔｏｏｌｓ\\lumbrix.exe", L"/hide", L"C:\\ＴＯＯＬＳ\\lumbrix.exe")) << "A to Z only";
}
