#pragma once

namespace tarnveil {

class DriveMap;
struct Module1;
class mnuMenu;

// Opens the console over `module`, the prefix's system drive made ready first.
// A failure of the start-up (the program folder or its settings file unusable)
// is shown in a message box with its number and description, and gives nullptr.
mnuMenu* openConsole(const DriveMap& drives, Module1& module);

// The whole program: the console and every window opened from it, until the
// last of them closes. Returns the process's exit status.
int runTarnveil(int argc, char** argv);

} // namespace tarnveil
