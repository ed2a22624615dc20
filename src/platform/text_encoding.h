#pragma once

#include <string>
#include <string_view>

namespace tarnveil {

// The text encodings of registry exports, turned into the UTF-8 used everywhere else.

// Version-5 exports: UTF-16LE (after their byte-order mark). A lone surrogate
// becomes U+FFFD.
std::string utf16leToUtf8(std::string_view bytes);

// REGEDIT4 exports from Windows: the ANSI code page 1252.
std::string windows1252ToUtf8(std::string_view bytes);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Text
// in Windows-1252 with letters beyond ASCII almost never passes.
bool isValidUtf8(std::string_view bytes);

} // namespace tarnveil
