#include "settings/settings_save.h"

#include <cstring>

bool QueueSave(SaveQueue& queue, const RemapSettings& settings)
{
    FormatSettings(settings, queue.text);
    queue.pending = true;
    const bool start = !queue.saving;
    queue.saving = true;
    return start;
}

int TakeSave(SaveQueue& queue, char* out)
{
    if (!queue.pending) {
        queue.saving = false;
        return 0;
    }
    queue.pending = false;
    std::memcpy(out, queue.text, SETTINGS_TEXT_CAPACITY);
    return static_cast<int>(std::strlen(out));
}
