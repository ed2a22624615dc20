#include "console/log_opening.h"

#include "components/sound_file.h"

namespace tarnveil {

OpenedLog::OpenedLog() = default;
OpenedLog::~OpenedLog() = default;
OpenedLog::OpenedLog(OpenedLog&&) noexcept = default;
OpenedLog& OpenedLog::operator=(OpenedLog&&) noexcept = default;

OpenedLog openLog(const LoggerPlaces& places, const std::string& selectedLogPath,
                  const std::filesystem::path& selectedLog)
{
    OpenedLog opened;
    try {
        opened.currentLogPath = fixLiveLogHeader(places, selectedLogPath, selectedLog);
    } catch (const Failure& failure) {
        opened.fixUpFailure = failure;
        return opened;
    }
    try {
        // The log being recorded is read past its header's stale sizes.
        const bool live = opened.currentLogPath == selectedLogPath;
        opened.file = std::make_unique<SoundFile>(selectedLog, live ? SoundFile::Growth::Growing : SoundFile::Growth::Fixed);
    } catch (const Failure& failure) {
        opened.openFailure = failure;
    }
    return opened;
}

} // namespace tarnveil
