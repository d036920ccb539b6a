#include "settings/settings_save.h"

#include <cstring>

bool QueueSave(SaveQueue& queue, const RemapSettings& settings)
{
    char text[SETTINGS_TEXT_CAPACITY];
    return QueueSaveText(queue, text, static_cast<size_t>(FormatSettings(settings, text)));
}

bool QueueSaveText(SaveQueue& queue, const char* text, size_t length)
{
    std::memcpy(queue.text, text, length);
    queue.text[length] = '\0';
    queue.pending = true;
    const bool start = !queue.saving;
    queue.saving = true;
    return start;
}

int TakeSave(SaveQueue& queue, char* out)
{
    if (!queue.pending) {
        queue.saving = false;
        return -1;
    }
    queue.pending = false;
    // Also when the exit takes what a failed saver left.
    queue.saving = true;
    const size_t length = std::strlen(queue.text);
    std::memcpy(out, queue.text, length + 1);
    return static_cast<int>(length);
}

void SaveFailed(SaveQueue& queue)
{
    // The text is still the one taken, unless a newer one replaced it.
    queue.pending = true;
    queue.saving = false;
}
