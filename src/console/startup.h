#pragma once

namespace tarnveil {

class DriveMap;
struct Module1;
class mnuMenu;

// Opens the console over `module`, the prefix's system drive made ready first.
// A failure of the start-up (the program folder or its settings file unusable)
// is shown in a message box with its number and description, and gives nullptr.
mnuMenu* openConsole(const DriveMap& drives, Module1& module);

// Runs the event loop until the program ends, then closes the console, if a
// fatal failure left it open. Returns the loop's exit status.
int runConsole(mnuMenu* console);

// The whole program: the console and every window opened from it, until the
// last of them closes. Returns the process's exit status.
int runTarnveil(int argc, char** argv);

} // namespace tarnveil
