#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "tests/remap_script.h"

// One scripted case: options, physical script, what the system receives.
struct RemapCase {
    const char* options;
    const char* script;
    const char* expected;
    const char* proves;
};

inline void RunCases(const std::vector<RemapCase>& cases)
{
    for (const RemapCase& c : cases) {
        EXPECT_EQ(RunRemapScript(c.options, c.script), c.expected)
            << c.proves << "\n  options: \"" << c.options << "\"  script: " << c.script;
    }
}
