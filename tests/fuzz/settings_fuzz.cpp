// libFuzzer target of the settings reader: arbitrary bytes, as a `setting`
// file read into a buffer of its size plus the terminator, go through the
// scan; any crash, out-of-bounds read or broken invariant aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "settings/settings_text.h"

namespace {

bool AllZeroOrOne(const RemapSettings& settings)
{
    for (int32_t flag : {settings.capslock_to_ctrl, settings.swap_alt_for_ctrl, settings.send_lang, settings.use_dvorak}) {
        if (flag != 0 && flag != 1) {
            return false;
        }
    }
    return true;
}

bool SameFlags(const RemapSettings& a, const RemapSettings& b)
{
    return a.capslock_to_ctrl == b.capslock_to_ctrl && a.swap_alt_for_ctrl == b.swap_alt_for_ctrl &&
           a.send_lang == b.send_lang && a.use_dvorak == b.use_dvorak;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the file's bytes and one terminator, as the reader allocates.
    char* text = static_cast<char*>(std::malloc(size + 1));
    if (size > 0) {
        std::memcpy(text, data, size);
    }
    text[size] = '\0';

    RemapSettings settings{};
    ScanSettings(settings, text);
    if (!AllZeroOrOne(settings)) {
        std::abort();
    }

    // Whatever was read is written back canonically and reads back the same.
    char canonical[SETTINGS_TEXT_CAPACITY];
    RemapSettings reread{};
    if (FormatSettings(settings, canonical) != 63 || !ScanSettings(reread, canonical) || !SameFlags(settings, reread)) {
        std::abort();
    }

    // The parser alone, with the value anywhere in the text, the
    // terminator included.
    if (size > 0) {
        RemapSettings parsed{};
        ParseSettingLine(parsed, text, text + data[0] % (size + 1));
        if (!AllZeroOrOne(parsed)) {
            std::abort();
        }
    }

    std::free(text);
    return 0;
}
