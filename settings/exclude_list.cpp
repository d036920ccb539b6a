#include "settings/exclude_list.h"

#include <cstring>

ExcludeList excluded_apps;

namespace {

char LowerAscii(char byte)
{
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

bool SameName(const char* a, const char* b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsBlank(char byte)
{
    return byte == ' ' || byte == '\t';
}

}  // namespace

void ReadExcludeList(ExcludeList& list, const char* text, size_t length)
{
    list.used = 0;
    list.count = 0;
    list.names[0] = '\0';
    size_t at = length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < length) {
        size_t end = at;
        while (end < length && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        size_t first = at;
        size_t last = end;
        while (first < last && IsBlank(text[first])) {
            ++first;
        }
        while (last > first && IsBlank(text[last - 1])) {
            --last;
        }
        if (first < last && text[first] != '#') {
            AddExcluded(list, text + first, last - first);
        }
        at = end + (end + 1 < length && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
}

int32_t FindExcluded(const ExcludeList& list, const char* name, size_t length)
{
    size_t at = 0;
    for (uint32_t index = 0; index < list.count; ++index) {
        const char* end = static_cast<const char*>(std::memchr(list.names + at, '\n', list.used - at));
        const size_t here = static_cast<size_t>(end - (list.names + at));
        if (here == length && SameName(list.names + at, name, length)) {
            return static_cast<int32_t>(index);
        }
        at += here + 1;
    }
    return -1;
}

bool AddExcluded(ExcludeList& list, const char* name, size_t length)
{
    if (length == 0 || std::memchr(name, '\n', length) != nullptr || std::memchr(name, '\r', length) != nullptr ||
        list.used + length + 1 >= sizeof list.names || FindExcluded(list, name, length) >= 0) {
        return false;
    }
    std::memcpy(list.names + list.used, name, length);
    list.used += static_cast<uint32_t>(length + 1);
    list.names[list.used - 1] = '\n';
    // Kept terminated, for the saver's copy.
    list.names[list.used] = '\0';
    ++list.count;
    return true;
}

void RemoveExcluded(ExcludeList& list, uint32_t index)
{
    size_t length = 0;
    const char* name = ExcludedName(list, index, &length);
    if (name == nullptr) {
        return;
    }
    const size_t at = static_cast<size_t>(name - list.names);
    // The terminator moves with the rest.
    std::memmove(list.names + at, name + length + 1, list.used - at - length);
    list.used -= static_cast<uint32_t>(length + 1);
    --list.count;
}

const char* ExcludedName(const ExcludeList& list, uint32_t index, size_t* length)
{
    if (index >= list.count) {
        return nullptr;
    }
    size_t at = 0;
    for (uint32_t i = 0;; ++i) {
        const char* end = static_cast<const char*>(std::memchr(list.names + at, '\n', list.used - at));
        if (i == index) {
            *length = static_cast<size_t>(end - (list.names + at));
            return list.names + at;
        }
        at = static_cast<size_t>(end - list.names) + 1;
    }
}
