#include "platform/failure.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <system_error>

namespace tarnveil {

std::string_view failureDescription(FailureCode code)
{
    switch (code) {
    case FailureCode::InvalidArgument: return "Invalid procedure call or argument";
    case FailureCode::Overflow: return "Overflow";
    case FailureCode::OutOfMemory: return "Out of memory";
    case FailureCode::InternalError: return "Internal error";
    case FailureCode::BadFileName: return "Bad file name or number";
    case FailureCode::FileNotFound: return "File not found";
    case FailureCode::DeviceIoError: return "Device I/O error";
    case FailureCode::FileExists: return "File already exists";
    case FailureCode::DiskFull: return "Disk full";
    case FailureCode::InputPastEnd: return "Input past end of file";
    case FailureCode::TooManyFiles: return "Too many files";
    case FailureCode::DeviceUnavailable: return "Device unavailable";
    case FailureCode::PermissionDenied: return "Permission denied";
    case FailureCode::PathFileAccessError: return "Path/File access error";
    case FailureCode::PathNotFound: return "Path not found";
    case FailureCode::InvalidFileFormat: return "Invalid file format";
    case FailureCode::SoundCardNotStorable: return "Sound card number above 9 cannot be stored";
    case FailureCode::InvalidIndex: return "Invalid property array index";
    case FailureCode::NoSuchDrive: return "Drive letter names no drive";
    case FailureCode::PathEscapesDrive: return "Path leads outside its drive";
    case FailureCode::FileTooLarge: return "File too large";
    case FailureCode::SystemDriveFixed: return "Drive C: holds the program and cannot be remapped";
    case FailureCode::NoLogAtTime: return "No log holds that time";
    case FailureCode::ClipCrossesGap: return "The clip crosses a gap between logs";
    case FailureCode::ClipFormatsDiffer: return "The clip's logs are in different formats";
    case FailureCode::ClipEmpty: return "The clip holds no audio";
    case FailureCode::ClipLogsOverlap: return "The clip's logs overlap";
    case FailureCode::NotAMoment: return "Not a date and time";
    }
    return "Unknown failure";
}

namespace {
std::string describe(FailureCode code, std::string_view detail)
{
    std::string text(failureDescription(code));
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    return text;
}
} // namespace

Failure::Failure(FailureCode code, std::string_view detail)
    : std::runtime_error(describe(code, detail)), code_(code), description_(describe(code, detail))
{
}

std::string Failure::message() const
{
    return std::to_string(number()) + " " + description_;
}

Failure failureFromErrno(int errnoValue, std::string_view detail)
{
    switch (errnoValue) {
    case ENOENT: return Failure(FailureCode::FileNotFound, detail);
    case ENOTDIR: return Failure(FailureCode::PathNotFound, detail);
    case EACCES:
    case EPERM:
    case EROFS: return Failure(FailureCode::PermissionDenied, detail);
    case ENAMETOOLONG: return Failure(FailureCode::BadFileName, detail);
    case ENXIO:
    case ENODEV:
    case EHOSTDOWN:
    case ENOTCONN:
    case ESTALE: return Failure(FailureCode::DeviceUnavailable, detail);
    case EIO: return Failure(FailureCode::DeviceIoError, detail);
    case ENOSPC:
    case EDQUOT: return Failure(FailureCode::DiskFull, detail);
    case EMFILE:
    case ENFILE: return Failure(FailureCode::TooManyFiles, detail);
    case ENOMEM: return Failure(FailureCode::OutOfMemory, detail);
    default: return Failure(FailureCode::PathFileAccessError, detail);
    }
}

Failure fileFailure(int errnoValue, const std::filesystem::path& file, std::string_view detail)
{
    if (errnoValue == ENOENT) {
        struct stat info {};
        const std::filesystem::path folder = file.parent_path();
        if (!folder.empty() && (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
            return Failure(FailureCode::PathNotFound, detail);
    }
    return failureFromErrno(errnoValue, detail);
}

Failure failureFromException(const std::exception& error)
{
    if (const auto* failure = dynamic_cast<const Failure*>(&error))
        return *failure;
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
        return Failure(FailureCode::OutOfMemory);
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        // A thread or lock the system would not grant: the resources ran out.
        const std::error_code code = system->code();
        if (code.category() == std::generic_category() || code.category() == std::system_category()) {
            if (code.value() == EAGAIN)
                return Failure(FailureCode::OutOfMemory, error.what());
            return failureFromErrno(code.value(), error.what());
        }
    }
    return Failure(FailureCode::InternalError, error.what());
}

} // namespace tarnveil
