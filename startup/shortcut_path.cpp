#include "startup/shortcut_path.h"

#include <cwchar>

namespace {

const wchar_t LINK_EXTENSION[] = L".lnk";
const size_t LINK_EXTENSION_UNITS = sizeof LINK_EXTENSION / sizeof LINK_EXTENSION[0];

bool IsSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

wchar_t FoldCase(wchar_t unit)
{
    const bool small_latin = unit >= L'a' && unit <= L'z';
    const bool small_full_width = unit >= L'\uFF41' && unit <= L'\uFF5A';
    return small_latin || small_full_width ? static_cast<wchar_t>(unit - 0x20) : unit;
}

// The next part at or after `cursor`; its length goes to `length`, 0 at the end.
const wchar_t* NextPart(const wchar_t* cursor, size_t& length)
{
    while (IsSeparator(*cursor)) {
        ++cursor;
    }
    length = 0;
    while (cursor[length] != L'\0' && !IsSeparator(cursor[length])) {
        ++length;
    }
    return cursor;
}

bool SamePart(const wchar_t* one, const wchar_t* other, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(one[i]) != FoldCase(other[i])) {
            return false;
        }
    }
    return true;
}

const wchar_t* WithoutLongPrefix(const wchar_t* path)
{
    return std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

}  // namespace

const wchar_t* FindFileName(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* cursor = path; *cursor != L'\0'; ++cursor) {
        // A trailing separator ("C:\dir\") does not start an empty name.
        if ((*cursor == L'\\' || *cursor == L'/' || *cursor == L':') && cursor[1] != L'\0' &&
            cursor[1] != L'\\' && cursor[1] != L'/') {
            name = cursor + 1;
        }
    }
    return name;
}

size_t ShortcutPathUnits(const wchar_t* folder, const wchar_t* executable_path)
{
    // The backslash, then ".lnk" with its terminator.
    return std::wcslen(folder) + 1 + std::wcslen(FindFileName(executable_path)) + LINK_EXTENSION_UNITS;
}

void FormatShortcutPath(wchar_t* out, const wchar_t* folder, const wchar_t* executable_path)
{
    const wchar_t* name = FindFileName(executable_path);
    const size_t folder_length = std::wcslen(folder);
    const size_t name_length = std::wcslen(name);
    std::wmemcpy(out, folder, folder_length);
    out[folder_length] = L'\\';
    std::wmemcpy(out + folder_length + 1, name, name_length);
    std::wmemcpy(out + folder_length + 1 + name_length, LINK_EXTENSION, LINK_EXTENSION_UNITS);
}

bool ExecutableInFolder(const wchar_t* executable_path, const wchar_t* folder)
{
    const wchar_t* executable = WithoutLongPrefix(executable_path);
    folder = WithoutLongPrefix(folder);
    for (size_t parts = 0;; ++parts) {
        size_t folder_length = 0;
        size_t executable_length = 0;
        folder = NextPart(folder, folder_length);
        executable = NextPart(executable, executable_length);
        if (folder_length == 0) {
            // Past the folder's last part the executable still has its name.
            return parts >= 2 && executable_length > 0;
        }
        if (executable_length != folder_length || !SamePart(executable, folder, folder_length)) {
            return false;
        }
        folder += folder_length;
        executable += executable_length;
    }
}

bool StartsThisCopy(const wchar_t* target, const wchar_t* arguments, const wchar_t* executable_path)
{
    for (;; ++target, ++executable_path) {
        const wchar_t one = *target >= L'a' && *target <= L'z' ? static_cast<wchar_t>(*target - 0x20) : *target;
        const wchar_t other = *executable_path >= L'a' && *executable_path <= L'z'
                                  ? static_cast<wchar_t>(*executable_path - 0x20)
                                  : *executable_path;
        if (one != other) {
            return false;
        }
        if (one == L'\0') {
            return std::wcscmp(arguments, L"/hide") == 0;
        }
    }
}
