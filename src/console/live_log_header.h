#pragma once

#include <string>

namespace tarnveil {

struct Module1;

// Reads the logger's CurFile, sets CurrentLogPath and, when `selectedLogPath`
// (a drive path such as "L:\logger\logs\x.wav") is the log being recorded,
// rewrites the RIFF and data sizes of its header in place from its length now.
// Throws Failure.
void FixLiveLogHeader(Module1& module, const std::string& selectedLogPath);

} // namespace tarnveil
