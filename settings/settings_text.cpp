#include "settings/settings_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct SettingKey {
    const char* name;
    size_t length;
    int32_t RemapSettings::*flag;
};

// Matched in this order; the first key the line begins with wins.
const SettingKey SETTING_KEYS[] = {
    {"capslock_to_ctrl", 16, &RemapSettings::capslock_to_ctrl},
    {"swap_alt_for_ctrl", 17, &RemapSettings::swap_alt_for_ctrl},
    {"send_lang", 9, &RemapSettings::send_lang},
    {"use_dvorak", 10, &RemapSettings::use_dvorak},
};

const wchar_t SETTINGS_FILE_NAME[] = L"\\setting";
const size_t SETTINGS_FILE_NAME_UNITS = sizeof SETTINGS_FILE_NAME / sizeof SETTINGS_FILE_NAME[0];

const wchar_t GUIDE_FILE_NAME[] = L"guide-ja.html";
const size_t GUIDE_FILE_NAME_UNITS = sizeof GUIDE_FILE_NAME / sizeof GUIDE_FILE_NAME[0];

bool NeedsSeparator(const wchar_t* folder, size_t folder_length)
{
    return folder_length == 0 || folder[folder_length - 1] != L'\\';
}

}  // namespace

bool RewriteAfterLoad(SettingsLoad load)
{
    return load == SettingsMissing || load == SettingsUnusable;
}

bool ParseSettingLine(RemapSettings& settings, const char* line, const char* value)
{
    // long is 32 bits on Windows and 64 on Linux: ERANGE covers the first,
    // the explicit bounds the second.
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(value, &end, 10);
    if (end == value || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) {
        return false;
    }
    for (const SettingKey& key : SETTING_KEYS) {
        // strncmp stops at a NUL, so a line shorter than the key never
        // reads past the text.
        if (std::strncmp(line, key.name, key.length) == 0) {
            settings.*key.flag = number != 0 ? 1 : 0;
            return true;
        }
    }
    return false;
}

bool ScanSettings(RemapSettings& settings, const char* text)
{
    const char* cursor = text;
    const char* line = text;
    const char* value = nullptr;
    for (;;) {
        const char byte = *cursor;
        if (byte == '\0') {
            return value == nullptr || ParseSettingLine(settings, line, value);
        }
        if (byte == '\r' || byte == '\n') {
            if (value != nullptr && !ParseSettingLine(settings, line, value)) {
                return false;
            }
            ++cursor;
            if (*cursor == '\n') {
                ++cursor;
            }
            line = cursor;
            value = nullptr;
        } else {
            ++cursor;
            if (byte == '=') {
                value = cursor;
            }
        }
    }
}

int FormatSettings(const RemapSettings& settings, char* out)
{
    return std::snprintf(out, SETTINGS_TEXT_CAPACITY,
                         "capslock_to_ctrl=%d\nswap_alt_for_ctrl=%d\nsend_lang=%d\nuse_dvorak=%d",
                         settings.capslock_to_ctrl != 0 ? 1 : 0, settings.swap_alt_for_ctrl != 0 ? 1 : 0,
                         settings.send_lang != 0 ? 1 : 0, settings.use_dvorak != 0 ? 1 : 0);
}

size_t CutToFolder(wchar_t* path)
{
    wchar_t* cursor = path;
    wchar_t* cut = path;
    // A leading "\" or "\\" (root of the current drive, UNC or device path)
    // is never cut.
    for (int i = 0; i < 2 && *cursor == L'\\'; ++i) {
        cut = ++cursor;
    }
    while (*cursor != L'\0') {
        if (*cursor == L'\\') {
            cut = cursor;
        } else if (*cursor == L':') {
            // A drive's colon, and the backslash of its root, stay.
            cut = ++cursor;
            if (*cursor == L'\\') {
                ++cut;
            }
            if (*cursor == L'\0') {
                break;
            }
        }
        ++cursor;
    }
    *cut = L'\0';
    return static_cast<size_t>(cut - path);
}

wchar_t* WithoutFinalPathPrefix(wchar_t* path)
{
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        path[6] = L'\\';
        return path + 6;
    }
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0 && path[4] != L'\0' && path[5] == L':') {
        return path + 4;
    }
    return path;
}

size_t RemapSettingsSize(size_t folder_length)
{
    return sizeof(RemapSettings) + (folder_length + SETTINGS_FILE_NAME_UNITS) * sizeof(wchar_t);
}

void InitRemapSettings(RemapSettings& settings, const wchar_t* folder, size_t folder_length)
{
    settings.capslock_to_ctrl = 0;
    settings.swap_alt_for_ctrl = 0;
    settings.send_lang = 0;
    settings.use_dvorak = 0;
    std::wmemcpy(settings.file_path, folder, folder_length);
    // The name's array carries the terminator.
    std::wmemcpy(settings.file_path + folder_length, SETTINGS_FILE_NAME, SETTINGS_FILE_NAME_UNITS);
}

size_t GuidePathUnits(const wchar_t* folder, size_t folder_length)
{
    return folder_length + (NeedsSeparator(folder, folder_length) ? 1 : 0) + GUIDE_FILE_NAME_UNITS;
}

void FormatGuidePath(wchar_t* out, const wchar_t* folder, size_t folder_length)
{
    std::wmemcpy(out, folder, folder_length);
    size_t length = folder_length;
    if (NeedsSeparator(folder, folder_length)) {
        out[length++] = L'\\';
    }
    // The name's array carries the terminator.
    std::wmemcpy(out + length, GUIDE_FILE_NAME, GUIDE_FILE_NAME_UNITS);
}
