// Test tap: when QOR_TEST_LOG_FILE names a file, help requests that would
// start an outside viewer are appended to it, one line each, so that tests of
// whole programs see what was asked.
#pragma once
#include <string>

// True when the variable names a file (the line was appended there).
bool AppendTestLog(const std::string &line);
