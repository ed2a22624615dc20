#include "console/module1.h"

#include "platform/drive_map.h"
#include "settings/settings_file.h"
#include "windows/help_document.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace tarnveil {

void Module1::InitializeProgram()
{
    // The program folder appears on the first start; the operator's guide that
    // ships with the program goes into it then.
    const std::filesystem::path programFolder = drives.resolve(ProgramFolder);
    std::error_code error;
    const bool firstStart = !std::filesystem::exists(programFolder, error);
    ReadSettings(*this);
    if (firstStart)
        installHelpDocument(programFolder);
}

void Module1::FormatTime()
{
    // Positions never lie before the start of a file; a negative count (a
    // remaining time past the end after a seek) reads as nothing left.
    const int32_t s = TimeSeconds < 0 ? 0 : TimeSeconds % 86400;
    const int32_t h = s / 3600;
    const int32_t m = (s % 3600) / 60;
    const int32_t x = s % 60;

    std::string text;
    if (h != 0) {
        if (h < 10)
            text += ' ';
        text += std::to_string(h);
        text += ':';
    }
    if (m < 10)
        text += '0';
    text += std::to_string(m);
    text += ':';
    if (x < 10)
        text += '0';
    text += std::to_string(x);
    TimeText = std::move(text);
}

} // namespace tarnveil
