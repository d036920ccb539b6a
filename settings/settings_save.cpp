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
    // Also when the exit takes what a failed saver left.
    queue.saving = true;
    std::memcpy(out, queue.text, SETTINGS_TEXT_CAPACITY);
    return static_cast<int>(std::strlen(out));
}

void SaveFailed(SaveQueue& queue)
{
    // The text is still the one taken, unless a newer one replaced it.
    queue.pending = true;
    queue.saving = false;
}
