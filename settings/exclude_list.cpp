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

// CR, LF and CRLF end a line; so does a NUL, which no file name holds and
// which would end the text the list is saved from.
bool EndsLine(uint32_t unit)
{
    return unit == '\r' || unit == '\n' || unit == 0;
}

// One line of the file: spaces and tabs around the name go; blank and
// comment lines are skipped.
void UseLine(ExcludeList& list, const char* line, size_t length)
{
    size_t first = 0;
    size_t last = length;
    while (first < last && IsBlank(line[first])) {
        ++first;
    }
    while (last > first && IsBlank(line[last - 1])) {
        --last;
    }
    if (first < last && line[first] != '#') {
        AddExcluded(list, line + first, last - first);
    }
}

// Appends the UTF-8 form of code point `code` to `out` at *at (room for
// `room` bytes); false when it does not fit.
bool PutUtf8(char* out, size_t room, size_t* at, uint32_t code)
{
    const size_t bytes = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (*at + bytes > room) {
        return false;
    }
    if (bytes == 1) {
        out[(*at)++] = static_cast<char>(code);
        return true;
    }
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out[(*at)++] = static_cast<char>(lead[bytes] | (code >> (6 * (bytes - 1))));
    for (size_t i = bytes - 1; i > 0; --i) {
        out[(*at)++] = static_cast<char>(0x80 | ((code >> (6 * (i - 1))) & 0x3F));
    }
    return true;
}

// The UTF-16 unit at byte `at` of `text`.
uint32_t Unit(const char* text, size_t at, bool big_endian)
{
    const uint32_t first = static_cast<unsigned char>(text[at]);
    const uint32_t second = static_cast<unsigned char>(text[at + 1]);
    return big_endian ? (first << 8 | second) : (second << 8 | first);
}

// A file saved as UTF-16 (Notepad's "Unicode"), after its byte order mark:
// each line in UTF-8, as the list keeps it. A line longer than any file
// name is skipped; a lone surrogate becomes U+FFFD, an odd last byte goes.
void ReadUtf16Lines(ExcludeList& list, const char* text, size_t length, bool big_endian)
{
    char line[MAX_NAME_BYTES];
    size_t used = 0;
    bool fits = true;
    for (size_t at = 2; at + 1 < length; at += 2) {
        uint32_t code = Unit(text, at, big_endian);
        if (EndsLine(code)) {
            if (fits) {
                UseLine(list, line, used);
            }
            used = 0;
            fits = true;
            continue;
        }
        const uint32_t low = at + 3 < length ? Unit(text, at + 2, big_endian) : 0;
        if (code >= 0xD800 && code < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        fits = fits && PutUtf8(line, sizeof line, &used, code);
    }
    if (fits) {
        UseLine(list, line, used);
    }
}

}  // namespace

void ReadExcludeList(ExcludeList& list, const char* text, size_t length)
{
    list.used = 0;
    list.count = 0;
    list.names[0] = '\0';
    const bool utf16 = length >= 2 && (std::memcmp(text, "\xFF\xFE", 2) == 0 || std::memcmp(text, "\xFE\xFF", 2) == 0);
    if (utf16) {
        ReadUtf16Lines(list, text, length, text[0] == '\xFE');
        return;
    }
    size_t at = length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < length) {
        size_t end = at;
        while (end < length && !EndsLine(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        UseLine(list, text + at, end - at);
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
        std::memchr(name, '\0', length) != nullptr ||
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
