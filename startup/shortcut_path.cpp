#include "startup/shortcut_path.h"

#include <cwchar>

namespace {

const wchar_t LINK_EXTENSION[] = L".lnk";
const size_t LINK_EXTENSION_UNITS = sizeof LINK_EXTENSION / sizeof LINK_EXTENSION[0];

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
