#include "platform/failure.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <system_error>

namespace tarnveil {
namespace {

TEST(Failure, MessageIsNumberSpaceDescription)
{
    EXPECT_EQ(Failure(FailureCode::FileNotFound).message(), "53 File not found");
    EXPECT_EQ(Failure(FailureCode::PathNotFound, "L:\\logger\\logs").message(),
              "76 Path not found: L:\\logger\\logs");
}

TEST(Failure, ErrnoMapsToTheOperatorsWords)
{
    EXPECT_EQ(failureFromErrno(ENOENT).code(), FailureCode::FileNotFound);
    EXPECT_EQ(failureFromErrno(EACCES).code(), FailureCode::PermissionDenied);
    EXPECT_EQ(failureFromErrno(EROFS).code(), FailureCode::PermissionDenied);
    EXPECT_EQ(failureFromErrno(EIO).code(), FailureCode::DeviceIoError);
    EXPECT_EQ(failureFromErrno(ESTALE).code(), FailureCode::DeviceUnavailable);
    EXPECT_EQ(failureFromErrno(EINVAL).code(), FailureCode::PathFileAccessError);
    EXPECT_EQ(failureFromErrno(ENOSPC).message(), "61 Disk full");
    EXPECT_EQ(failureFromErrno(EDQUOT).code(), FailureCode::DiskFull);
    EXPECT_EQ(failureFromErrno(EMFILE).message(), "67 Too many files");
}

TEST(Failure, AMissingFileInAMissingFolderIsAMissingPath)
{
    test::TempDir dir;
    EXPECT_EQ(fileFailure(ENOENT, dir / "absent.rtf", "x").code(), FailureCode::FileNotFound);
    EXPECT_EQ(fileFailure(ENOENT, dir / "gone" / "absent.rtf", "x").message(), "76 Path not found: x");
}

TEST(Failure, ForeignExceptionsGetANumberToo)
{
    EXPECT_EQ(failureFromException(Failure(FailureCode::Overflow)).message(), "6 Overflow");
    EXPECT_EQ(failureFromException(std::bad_alloc()).message(), "7 Out of memory");
    const std::system_error noThread(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
    EXPECT_EQ(failureFromException(noThread).code(), FailureCode::OutOfMemory);
    EXPECT_EQ(failureFromException(std::logic_error("odd")).message(), "51 Internal error: odd");
}

} // namespace
} // namespace tarnveil
