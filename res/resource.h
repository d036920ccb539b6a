// Resource ids shared by the resource script and the program.
#pragma once

// Icon group: 256 (PNG), 48, 32, 24, 20 and 16 pixels, 32 bits per pixel.
#define IDI_APP 107

// The tray's icons while paused and while a window above our integrity level
// is in front: 32, 24, 20 and 16 pixels only.
#define IDI_PAUSED 108
#define IDI_ELEVATED 109
