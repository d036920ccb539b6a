#include "settings/remap_settings.h"

RemapSettings* active_settings;
