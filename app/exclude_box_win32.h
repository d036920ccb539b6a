// The settings window's list of the applications left alone, with its label
// and its Remove button, and the changes to the list from the window and
// the tray menu.
#pragma once

#include <windows.h>

#include "app/dispatch.h"
#include "app/window_layout.h"

// At the window's creation, after the startup box (the Tab order): the
// label, the list filled from excluded_apps, the Remove button, in `font`.
void CreateExcludeControls(HWND window, HFONT font);

// The label's and the button's sizes in their font, for the layout; and
// their places once laid out.
void MeasureExcludeControls(IdealSizes& ideal);
void PlaceExcludeControls(const WindowLayout& layout);

// Whether `control` is the list, whose Delete key removes.
bool IsExcludeList(HWND control);

// The window's and the menu's changes: CommandExclude adds `name` or
// removes it, CommandRemoveExcluded removes the name selected in the list;
// the list shows the change and the `exclude` file is written on a worker.
// True when the list changed: the caller then has the application in front
// judged anew and shows the outcome. A selection change enables the Remove
// button when a name is selected; the button disabled while it has the
// focus hands it to the list first.
bool ChangeExcluded(CommandAction action, const wchar_t* name);
