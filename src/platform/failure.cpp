#include "platform/failure.h"

#include <cerrno>

namespace tarnveil {

std::string_view failureDescription(FailureCode code)
{
    switch (code) {
    case FailureCode::InvalidArgument: return "Invalid procedure call or argument";
    case FailureCode::Overflow: return "Overflow";
    case FailureCode::BadFileName: return "Bad file name or number";
    case FailureCode::FileNotFound: return "File not found";
    case FailureCode::DeviceIoError: return "Device I/O error";
    case FailureCode::InputPastEnd: return "Input past end of file";
    case FailureCode::DeviceUnavailable: return "Device unavailable";
    case FailureCode::PermissionDenied: return "Permission denied";
    case FailureCode::PathFileAccessError: return "Path/File access error";
    case FailureCode::PathNotFound: return "Path not found";
    case FailureCode::InvalidFileFormat: return "Invalid file format";
    case FailureCode::SoundCardNotStorable: return "Sound card number above 9 cannot be stored";
    case FailureCode::InvalidIndex: return "Invalid property array index";
    case FailureCode::NoSuchDrive: return "Drive letter names no drive";
    case FailureCode::PathEscapesDrive: return "Path leads outside its drive";
    case FailureCode::NoLogAtTime: return "No log holds that time";
    case FailureCode::ClipCrossesGap: return "The clip crosses a gap between logs";
    case FailureCode::ClipFormatsDiffer: return "The clip's logs are in different formats";
    case FailureCode::ClipEmpty: return "The clip holds no audio";
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
    default: return Failure(FailureCode::PathFileAccessError, detail);
    }
}

} // namespace tarnveil
