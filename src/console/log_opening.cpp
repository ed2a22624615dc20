#include "console/log_opening.h"

#include "components/sound_file.h"

namespace tarnveil {

OpenedLog::OpenedLog() = default;
OpenedLog::~OpenedLog() = default;
OpenedLog::OpenedLog(OpenedLog&&) noexcept = default;
OpenedLog& OpenedLog::operator=(OpenedLog&&) noexcept = default;

OpenedLog openLog(const LoggerPlaces& places, const std::string& selectedLogPath,
                  const std::filesystem::path& selectedLog, bool newestListed)
{
    OpenedLog opened;
    try {
        opened.currentLogPath = fixLiveLogHeader(places, selectedLogPath, selectedLog);
    } catch (const Failure& failure) {
        opened.fixUpFailure = failure;
        return opened;
    }
    // The log being recorded is read past its header's stale sizes. Other
    // loggers name no log: their newest may be the one being recorded.
    SoundFile::Growth growth = SoundFile::Growth::Fixed;
    const bool curFileNamesALog = opened.currentLogPath != places.loggerDrive;
    if (opened.currentLogPath == selectedLogPath)
        growth = SoundFile::Growth::Growing;
    else if (!curFileNamesALog && newestListed)
        growth = SoundFile::Growth::MayGrow;
    try {
        opened.file = std::make_unique<SoundFile>(selectedLog, growth);
        if (growth == SoundFile::Growth::MayGrow && opened.file->growing() != nullptr)
            opened.followNewestIn = places.logFolder;
    } catch (const Failure& failure) {
        opened.openFailure = failure;
    }
    return opened;
}

} // namespace tarnveil
