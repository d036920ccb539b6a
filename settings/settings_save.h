// Which save of the `setting` file comes next, when saves run on a worker:
// one saver at a time, and the latest switches win. The caller holds a lock
// around each call; the writing itself happens outside it.
#pragma once

#include "settings/settings_text.h"

struct SaveQueue {
    char text[SETTINGS_TEXT_CAPACITY];  // the newest switches, as the file is to hold them
    bool pending;                       // asked for, not yet taken by a saver
    bool saving;                        // a saver is at work
};

// A click: the switches of `settings` replace any pending ones. True when no
// saver is at work, so the caller starts one (and must clear `saving` should
// it fail to).
bool QueueSave(SaveQueue& queue, const RemapSettings& settings);

// A saver's turn: copies the pending text into `out` (room for
// SETTINGS_TEXT_CAPACITY bytes), the caller being at work on it, and returns
// its length; 0 when nothing is pending, and the saver stops being at work.
int TakeSave(SaveQueue& queue, char* out);

// The saver could not write what it took: unless newer switches are pending
// already, those stay pending, and the saver stops being at work; the next
// QueueSave starts another.
void SaveFailed(SaveQueue& queue);
