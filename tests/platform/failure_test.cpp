#include "platform/failure.h"

#include <gtest/gtest.h>

#include <cerrno>

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
}

} // namespace
} // namespace tarnveil
