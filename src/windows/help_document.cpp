#include "windows/help_document.h"

#include <QCoreApplication>

#include <system_error>

namespace tarnveil {

void installHelpDocument(const std::filesystem::path& programFolder,
                         const std::vector<std::filesystem::path>& sources) noexcept
{
    try {
        const std::filesystem::path target = programFolder / "help.rtf";
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(target, error)))
            return;
        for (const auto& source : sources) {
            if (!std::filesystem::is_regular_file(source, error))
                continue;
            // copy_file without overwrite refuses a file that appeared meanwhile.
            std::filesystem::copy_file(source, target, std::filesystem::copy_options::none, error);
            if (error && error != std::errc::file_exists)
                std::filesystem::remove(target, error); // no half-written guide
            return;
        }
    } catch (...) {
        // A guide that cannot be installed is reported when the help window opens.
    }
}

void installHelpDocument(const std::filesystem::path& programFolder) noexcept
{
    std::vector<std::filesystem::path> sources;
    try {
        if (QCoreApplication::instance() != nullptr) {
            // Beside the executable in a build folder; <prefix>/share/tarnveil when
            // installed, wherever the prefix was moved to.
            const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
            sources.push_back(programDir / "help.rtf");
            sources.push_back(programDir.parent_path() / "share" / "tarnveil" / "help.rtf");
        }
        sources.emplace_back(std::filesystem::path(TARNVEIL_INSTALL_DATADIR) / "help.rtf");
    } catch (...) {
        return;
    }
    installHelpDocument(programFolder, sources);
}

} // namespace tarnveil
