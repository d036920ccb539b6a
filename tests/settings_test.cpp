#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <sstream>
#include <string>

#include "settings/exclude_list.h"
#include "settings/settings_save.h"
#include "settings/settings_text.h"

namespace {

// The four flags as digits in record order, e.g. "0101".
std::string Flags(const RemapSettings& settings)
{
    std::string flags;
    for (int32_t flag : {settings.capslock_to_ctrl, settings.swap_alt_for_ctrl, settings.send_lang, settings.use_dvorak}) {
        flags += std::to_string(flag);
    }
    return flags;
}

RemapSettings WithFlags(const char* flags)
{
    RemapSettings settings{};
    settings.capslock_to_ctrl = flags[0] - '0';
    settings.swap_alt_for_ctrl = flags[1] - '0';
    settings.send_lang = flags[2] - '0';
    settings.use_dvorak = flags[3] - '0';
    return settings;
}

struct ScanCase {
    const char* start;     // flags before the scan
    const char* text;      // NUL-terminated; an embedded NUL ends it early
    const char* flags;     // flags after the scan
    bool completes;        // false: the scan stops and the file is rewritten
    const char* note;
};

void RunScanCases(std::initializer_list<ScanCase> cases)
{
    for (const ScanCase& c : cases) {
        RemapSettings settings = WithFlags(c.start);
        const bool completes = ScanSettings(settings, c.text);
        EXPECT_EQ(completes, c.completes) << c.note;
        EXPECT_EQ(Flags(settings), c.flags) << c.note;
    }
}

}  // namespace

TEST(ScanValues, NumbersAsTheConversionReadsThem)
{
    RunScanCases({
        {"0000", "use_dvorak=1", "0001", true, "the only line sets its switch, the others stay off"},
        {"0000", "use_dvorak=2", "0001", true, "any nonzero number is on"},
        {"0000", "use_dvorak=-1", "0001", true, "negative is on"},
        {"0000", "use_dvorak= 1", "0001", true, "white space before the number"},
        {"0000", "use_dvorak=\t\v\f 1", "0001", true, "every kind of white space"},
        {"0000", "use_dvorak=1abc", "0001", true, "what follows the digits is ignored"},
        {"0000", "use_dvorak=+1", "0001", true, "a plus sign"},
        {"1111", "use_dvorak=0", "1110", true, "zero is off"},
        {"1111", "use_dvorak=00", "1110", true, "leading zeros"},
        {"0000", "use_dvorak=0000000000000000000000001", "0001", true, "many leading zeros"},
        {"0000", "use_dvorak=2147483647", "0001", true, "largest 32-bit value"},
        {"0000", "use_dvorak=-2147483648", "0001", true, "smallest 32-bit value"},
        {"1111", "use_dvorak=2147483648", "1111", false, "one above the range"},
        {"1111", "use_dvorak=-2147483649", "1111", false, "one below the range"},
        {"1111", "use_dvorak=99999999999999999999", "1111", false, "beyond 64 bits too"},
        {"1111", "use_dvorak=+", "1111", false, "a sign without digits"},
        {"1111", "use_dvorak=-", "1111", false, "a minus without digits"},
        {"1111", "use_dvorak=abc", "1111", false, "no digits"},
        {"1111", "use_dvorak=", "1111", false, "an empty value at the end of the text"},
        {"0000", "send_lang=\nuse_dvorak=1", "0000", false, "sought past the line break, the value finds 'u'"},
        {"0000", "send_lang=\n1", "0010", true, "sought past the line break, the value finds a digit"},
        {"0000", "send_lang=\r\n\r\n  1\nuse_dvorak=1", "0011", true, "across several breaks and blanks"},
    });
}

TEST(ScanKeys, PrefixMatchOnCaseSensitiveKeys)
{
    RunScanCases({
        {"0000", "Use_dvorak=1", "0000", false, "other case"},
        {"0000", " use_dvorak=1", "0000", false, "leading space"},
        {"0000", "use_dvorak_x=1", "0001", true, "only the key's length is compared"},
        {"0000", "send_lang =1", "0010", true, "what stands before '=' is not examined"},
        {"0000", "send_lang=0=1", "0010", true, "the value follows the last '='"},
        {"0000", "send_lang=1=", "0000", false, "an empty value after the last '='"},
        {"0000", "send_lan=1", "0000", false, "a key cut short"},
        {"0000", "send_lang", "0000", true, "a key without '=' is skipped"},
        {"0000", "=1", "0000", false, "no key at all"},
        {"0000", "capslock_to_ctrl=1", "1000", true, "first key"},
        {"0000", "swap_alt_for_ctrl=1", "0100", true, "second key"},
    });
}

TEST(ScanLines, BreaksBlankLinesAndOrder)
{
    RunScanCases({
        {"0000", "", "0000", true, "an empty text"},
        {"0000", "capslock_to_ctrl=1\rsend_lang=1", "1010", true, "CR"},
        {"0000", "capslock_to_ctrl=1\nsend_lang=1", "1010", true, "LF"},
        {"0000", "capslock_to_ctrl=1\r\nsend_lang=1\r\n", "1010", true, "CRLF with a trailing break"},
        {"0000", "capslock_to_ctrl=1\n\rsend_lang=1", "1010", true, "LF CR is two breaks"},
        {"0000", "\n\r\n\ncapslock_to_ctrl=1\n\n\nsend_lang=1\n\n", "1010", true, "empty lines anywhere"},
        {"0000", "# switches\nuse_dvorak=1\nhello", "0001", true, "lines without '=' are skipped"},
        {"0000", "use_dvorak=0\nuse_dvorak=1", "0001", true, "the later line wins"},
        {"1111", "use_dvorak=1\nuse_dvorak=0", "1110", true, "the later line wins, also for off"},
        {"0000", "use_dvorak=1\0send_lang=1", "0001", true, "a NUL ends the text"},
        {"0000", "use_dvorak=\0" "1", "0000", false, "a value cut by a NUL is empty"},
        {"0000", "\xEF\xBB\xBF" "capslock_to_ctrl=1\nuse_dvorak=1", "0000", false, "a byte-order mark spoils the first key"},
        {"0000", "capslock_to_ctrl=1\nsend_lang=1\nuse_dvorak=x\nswap_alt_for_ctrl=1", "1010", false,
         "a bad third line keeps the first two and drops the rest"},
        {"0000", "use_dvorak=1\nnot_a_key=1\ncapslock_to_ctrl=1", "0001", false, "an unknown key stops the scan"},
    });
}

TEST(ParseSettingLine, FalseLeavesTheRecordAlone)
{
    const char* line = "swap_alt_for_ctrl=1";
    RemapSettings settings = WithFlags("0000");
    EXPECT_TRUE(ParseSettingLine(settings, line, line + 18));
    EXPECT_EQ(Flags(settings), "0100");
    // The value position decides, not the first '=' of the line.
    EXPECT_FALSE(ParseSettingLine(settings, line, line + 17));
    EXPECT_EQ(Flags(settings), "0100");
    const char* unknown = "swap_ctrl=0";
    EXPECT_FALSE(ParseSettingLine(settings, unknown, unknown + 10));
    EXPECT_EQ(Flags(settings), "0100");
}

TEST(RewriteAfterLoad, OnlyAMissingOrUnusableFile)
{
    EXPECT_TRUE(RewriteAfterLoad(SettingsMissing));
    EXPECT_TRUE(RewriteAfterLoad(SettingsUnusable));
    EXPECT_FALSE(RewriteAfterLoad(SettingsRead));
    EXPECT_FALSE(RewriteAfterLoad(SettingsUnreadable)) << "a file held by another program keeps the user's switches";
}

TEST(FormatSettings, CanonicalText)
{
    char text[SETTINGS_TEXT_CAPACITY];
    const RemapSettings settings = WithFlags("1010");
    EXPECT_EQ(FormatSettings(settings, text), 63);
    EXPECT_STREQ(text, "capslock_to_ctrl=1\nswap_alt_for_ctrl=0\nsend_lang=1\nuse_dvorak=0");

    // A flag that is not 0 or 1 is still written as one digit.
    RemapSettings odd{};
    odd.capslock_to_ctrl = -7;
    odd.use_dvorak = 2147483647;
    EXPECT_EQ(FormatSettings(odd, text), 63);
    RemapSettings read{};
    EXPECT_TRUE(ScanSettings(read, text));
    EXPECT_EQ(Flags(read), "1001");
}

TEST(FormatSettings, AllSixteenCombinationsRoundTrip)
{
    for (int bits = 0; bits < 16; ++bits) {
        RemapSettings written{};
        written.capslock_to_ctrl = bits & 1;
        written.swap_alt_for_ctrl = (bits >> 1) & 1;
        written.send_lang = (bits >> 2) & 1;
        written.use_dvorak = (bits >> 3) & 1;
        char text[SETTINGS_TEXT_CAPACITY];
        const int length = FormatSettings(written, text);
        EXPECT_EQ(length, 63) << bits;
        EXPECT_EQ(std::strlen(text), 63u) << bits;
        EXPECT_EQ(std::strchr(text, '\r'), nullptr) << bits;
        EXPECT_NE(text[62], '\n') << bits;

        RemapSettings read = WithFlags(bits == 0 ? "1111" : "0000");
        EXPECT_TRUE(ScanSettings(read, text)) << bits;
        EXPECT_EQ(Flags(read), Flags(written)) << bits;
    }
}

TEST(CutToFolder, LikeRemovingTheFileSpec)
{
    struct {
        const wchar_t* path;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\tools\\lumbrix.exe", L"C:\\tools"},
        {L"C:\\a\\b\\c\\lumbrix.exe", L"C:\\a\\b\\c"},
        {L"C:\\lumbrix.exe", L"C:\\"},
        {L"C:lumbrix.exe", L"C:"},
        {L"\\\\server\\share\\lumbrix.exe", L"\\\\server\\share"},
        {L"\\\\?\\C:\\tools\\lumbrix.exe", L"\\\\?\\C:\\tools"},
        {L"\\\\?\\C:\\lumbrix.exe", L"\\\\?\\C:\\"},
        {L"\\lumbrix.exe", L"\\"},
        {L"lumbrix.exe", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring path = c.path;
        const size_t length = CutToFolder(&path[0]);
        EXPECT_STREQ(path.c_str(), c.folder);
        EXPECT_EQ(length, std::wcslen(c.folder));
    }
}

TEST(SettingsPath, FolderBackslashSettingAndGuideInExactlySizedBuffers)
{
    struct {
        std::wstring executable;
        std::wstring file_path;
        std::wstring guide_path;
    } cases[] = {
        {L"C:\\tools\\lumbrix.exe", L"C:\\tools\\setting", L"C:\\tools\\guide-ja.html"},
        // A drive root doubles the settings path's backslash, not the guide's.
        {L"C:\\lumbrix.exe", L"C:\\\\setting", L"C:\\guide-ja.html"},
        {L"\\\\server\\share\\lumbrix.exe", L"\\\\server\\share\\setting", L"\\\\server\\share\\guide-ja.html"},
        {L"\\\\?\\C:\\lumbrix.exe", L"\\\\?\\C:\\\\setting", L"\\\\?\\C:\\guide-ja.html"},
        {L"C:\\" + std::wstring(300, L'd') + L"\\lumbrix.exe", L"C:\\" + std::wstring(300, L'd') + L"\\setting",
         L"C:\\" + std::wstring(300, L'd') + L"\\guide-ja.html"},
    };
    for (const auto& c : cases) {
        std::wstring path = c.executable;
        const size_t folder_length = CutToFolder(&path[0]);
        // Exactly the size asked for: the sanitizer flags a unit too many.
        const size_t size = RemapSettingsSize(folder_length);
        EXPECT_EQ(size, sizeof(RemapSettings) + (c.file_path.size() + 1) * sizeof(wchar_t));
        RemapSettings* settings = static_cast<RemapSettings*>(std::malloc(size));
        std::memset(settings, 0xFF, size);
        InitRemapSettings(*settings, path.c_str(), folder_length);
        EXPECT_EQ(Flags(*settings), "0000");
        EXPECT_EQ(std::wstring(settings->file_path), c.file_path);
        std::free(settings);

        const size_t units = GuidePathUnits(path.c_str(), folder_length);
        EXPECT_EQ(units, c.guide_path.size() + 1);
        std::unique_ptr<wchar_t[]> guide(new wchar_t[units]);
        FormatGuidePath(guide.get(), path.c_str(), folder_length);
        EXPECT_EQ(std::wstring(guide.get()), c.guide_path);
    }
    // The path the file system gives for a held folder or file, as the
    // elevated copy is started by it and saves by it.
    for (const auto& final_path : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"\\\\?\\C:\\tools\\lumbrix.exe", L"C:\\tools\\lumbrix.exe"},
             {L"\\\\?\\C:\\", L"C:\\"},
             {L"\\\\?\\UNC\\server\\share\\tools", L"\\\\server\\share\\tools"},
             {L"\\\\?\\Volume{1b3b}\\tools", L"\\\\?\\Volume{1b3b}\\tools"},
             {L"\\\\?\\C", L"\\\\?\\C"},
             {L"C:\\tools", L"C:\\tools"}}) {
        std::wstring path = final_path.first;
        EXPECT_EQ(std::wstring(WithoutFinalPathPrefix(&path[0])), final_path.second) << final_path.first;
    }
}

TEST(SaveQueue, OneSaverAndTheNewestSwitchesWin)
{
    SaveQueue queue{};
    char text[SETTINGS_TEXT_CAPACITY];
    char expected[SETTINGS_TEXT_CAPACITY];
    EXPECT_TRUE(QueueSave(queue, WithFlags("1000"))) << "no saver at work: start one";
    EXPECT_EQ(TakeSave(queue, text), FormatSettings(WithFlags("1000"), expected));
    EXPECT_STREQ(text, expected);
    // Clicks while it writes: no second saver, one more save, of the newest.
    EXPECT_FALSE(QueueSave(queue, WithFlags("1100")));
    EXPECT_FALSE(QueueSave(queue, WithFlags("1101")));
    EXPECT_EQ(TakeSave(queue, text), 63);
    FormatSettings(WithFlags("1101"), expected);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(TakeSave(queue, text), -1) << "nothing left: the saver stops";
    EXPECT_TRUE(QueueSave(queue, WithFlags("0000"))) << "the next click starts a saver again";
    // A write that fails: the saver stops, the switches stay pending for the
    // exit, or give way to those of the next click, which starts a saver.
    EXPECT_EQ(TakeSave(queue, text), 63);
    SaveFailed(queue);
    EXPECT_EQ(TakeSave(queue, text), 63) << "the exit finds it pending";
    EXPECT_FALSE(QueueSave(queue, WithFlags("0010"))) << "a click while it is written again";
    SaveFailed(queue);
    EXPECT_TRUE(QueueSave(queue, WithFlags("0011")));
    EXPECT_EQ(TakeSave(queue, text), 63);
    EXPECT_STREQ(text, (FormatSettings(WithFlags("0011"), expected), expected));
    EXPECT_FALSE(QueueSaveText(queue, "", 0)) << "the list emptied while it writes";
    EXPECT_EQ(TakeSave(queue, text), 0) << "an empty list is a text to write too";
}

TEST(ExcludeList, ReadFindChangeAndTheTextWritten)
{
    // A file's text; the names it yields, each with its '\n', as the file is
    // then written; "-N" removes the name at N, "+NAME" adds; then a lookup.
    struct Case {
        std::string text;
        const char* edits;
        const char* names;
        const char* find;
        int32_t index;
    };
    const Case cases[] = {
        {"", "", "", "a.exe", -1},
        {"\xEF\xBB\xBFnotepad.exe\r\nmstsc.exe", "", "notepad.exe\nmstsc.exe\n", "MSTSC.EXE", 1},
        {"a.exe\rb.exe\n\n  \t\r\n# c.exe\n  d e.exe \t\n", "", "a.exe\nb.exe\nd e.exe\n", "c.exe", -1},
        {"A.exe\na.EXE\nb.exe", "", "A.exe\nb.exe\n", "a.exe", 0},
        {"\xC3\x89.exe\n", "", "\xC3\x89.exe\n", "\xC3\xA9.exe", -1},
        {"#\xEF\xBB\xBF\na.exe", "", "a.exe\n", "A.exe", 0},
        {"a.exe\nb.exe\nc.exe\n", "-1", "a.exe\nc.exe\n", "c.exe", 1},
        {"a.exe\nb.exe\n", "-0 -0 -0", "", "b.exe", -1},
        {"a.exe\n", "+B.exe +b.EXE +a.exe -5", "a.exe\nB.exe\n", "b.exe", 1},
        {std::string("a.exe\0b.exe\nc\0.exe\n", 19), "", "a.exe\nb.exe\nc\n.exe\n", ".exe", 3},
        {std::string("\xFF\xFE" "a\0.\0e\0x\0e\0\r\0\n\0\xC9\0.\0e\0x\0e\0\0\0" "#\0\x3D\xD8\x00\xDE\n\0 \0z\0", 40), "",
         "a.exe\n\xC3\x89.exe\nz\n", "\xC3\x89.EXE", 1},
        {std::string("\xFE\xFF\0a\0\n\xD8\x3D\xDE\x00\0\n\xDC\0\0x\0", 17), "", "a\n\xF0\x9F\x98\x80\n\xEF\xBF\xBDx\n", "a", 0},
    };
    for (const Case& c : cases) {
        ExcludeList list{};
        ReadExcludeList(list, c.text.data(), c.text.size());
        std::istringstream edits(c.edits);
        for (std::string edit; edits >> edit;) {
            if (edit[0] == '-') {
                RemoveExcluded(list, static_cast<uint32_t>(std::stoul(edit.substr(1))));
            } else {
                AddExcluded(list, edit.data() + 1, edit.size() - 1);
            }
        }
        EXPECT_FALSE(AddExcluded(list, "x\0y", 3) || AddExcluded(list, "\0", 1)) << "a NUL is never kept in a name";
        EXPECT_EQ(std::string(list.names, list.used), c.names) << c.text;
        EXPECT_EQ(FindExcluded(list, c.find, std::strlen(c.find)), c.index) << c.text;
    }
    ExcludeList full{};
    std::string names;
    for (int i = 1000; i < 1400; ++i) {
        names += "application-" + std::to_string(i) + ".exe\n";
    }
    ReadExcludeList(full, names.data(), names.size());
    EXPECT_EQ(std::string(full.names, full.used), names.substr(0, full.used)) << "names that fit, whole";
    EXPECT_TRUE(full.used < SAVE_TEXT_CAPACITY && full.count == full.used / 21 && !AddExcluded(full, "x.exe", 5));
}
