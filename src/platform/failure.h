#pragma once

#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnveil {

// Every failure the program can report, with the number shown to the operator.
// The numbers follow the classic BASIC runtime numbering, which the broadcast
// engineers who use this console already know from the tools it replaces.
enum class FailureCode : int {
    InvalidArgument = 5,
    Overflow = 6,
    OutOfMemory = 7,
    InternalError = 51,
    BadFileName = 52,
    FileNotFound = 53,
    DeviceIoError = 57,
    FileExists = 58,
    DiskFull = 61,
    InputPastEnd = 62,
    TooManyFiles = 67,
    DeviceUnavailable = 68,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    PathNotFound = 76,
    InvalidFileFormat = 321,
    SoundCardNotStorable = 380,
    InvalidIndex = 381,
    NoSuchDrive = 382,
    PathEscapesDrive = 383,
    FileTooLarge = 384,
    SystemDriveFixed = 385,
    NoLogAtTime = 423,
    ClipCrossesGap = 424,
    ClipFormatsDiffer = 425,
    ClipEmpty = 426,
    ClipLogsOverlap = 427,
    NotAMoment = 428,
};

// The one table of descriptions, so that the same failure reads the same everywhere.
std::string_view failureDescription(FailureCode code);

// A failure carries its number and a plain-words description; `detail` (a file
// name, a library's own message) is appended when it helps the operator.
class Failure : public std::runtime_error {
public:
    explicit Failure(FailureCode code, std::string_view detail = {});

    FailureCode code() const noexcept { return code_; }
    int number() const noexcept { return static_cast<int>(code_); }
    const std::string& description() const noexcept { return description_; }

    // "number, one space, description": how every caught failure is shown.
    std::string message() const;

private:
    FailureCode code_;
    std::string description_;
};

// Translates an errno value from a failed file operation into the matching failure.
Failure failureFromErrno(int errnoValue, std::string_view detail = {});

// The same for a failed access to `file`: a missing entry reads as a missing
// path when the folder it should be in is not there.
Failure fileFailure(int errnoValue, const std::filesystem::path& file, std::string_view detail);

// Any exception a handler catches, as a failure with a number: the program's own
// as they are, the library's (memory, threads, ...) translated.
Failure failureFromException(const std::exception& error);

} // namespace tarnveil
