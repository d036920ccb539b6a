// Which save of a file (`setting`, `exclude`) comes next, when saves run on
// a worker: one saver at a time, and the latest text wins. The caller holds a lock
// around each call; the writing itself happens outside it.
#pragma once

#include "settings/settings_text.h"

// Room for the longest text a queue takes, and its terminator.
const size_t SAVE_TEXT_CAPACITY = 8192;

struct SaveQueue {
    char text[SAVE_TEXT_CAPACITY];  // the newest text, as the file is to hold it
    bool pending;                       // asked for, not yet taken by a saver
    bool saving;                        // a saver is at work
};

// A click: the switches of `settings` replace any pending ones. True when no
// saver is at work, so the caller starts one (and must clear `saving` should
// it fail to).
bool QueueSave(SaveQueue& queue, const RemapSettings& settings);

// As QueueSave, for a text of `length` bytes (less than SAVE_TEXT_CAPACITY).
bool QueueSaveText(SaveQueue& queue, const char* text, size_t length);

// A saver's turn: copies the pending text and its terminator into `out`
// (room for them: SAVE_TEXT_CAPACITY bytes does for any), the caller being
// at work on it, and returns its length, which may be 0 (an empty list);
// -1 when nothing is pending, and the saver stops being at work.
int TakeSave(SaveQueue& queue, char* out);

// The saver could not write what it took: unless newer switches are pending
// already, those stay pending, and the saver stops being at work; the next
// QueueSave starts another.
void SaveFailed(SaveQueue& queue);
