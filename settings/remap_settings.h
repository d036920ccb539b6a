// The settings record: the four switches and, inline behind them, the full
// path of the `setting` file. One allocation per process, owned by the entry.
#pragma once

#include <cstdint>

struct RemapSettings {
    int32_t capslock_to_ctrl;
    int32_t swap_alt_for_ctrl;
    int32_t send_lang;
    int32_t use_dvorak;
    // NUL-terminated, sized exactly when the record is allocated.
    wchar_t file_path[];
};

// Set once by the entry before the settings are loaded; never changed after.
extern RemapSettings* active_settings;
