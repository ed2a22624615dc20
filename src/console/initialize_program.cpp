#include "program/module1.h"

#include "platform/drive_map.h"
#include "settings/settings_file.h"
#include "windows/help_document.h"

#include <filesystem>
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

} // namespace tarnveil
