#include "platform/windows/windows_error.h"

#include <gtest/gtest.h>

namespace zorv::platform {
namespace {

TEST(WindowsErrorMapping, SystemErrorsBecomeOutcomes) {
  struct Case {
    DWORD err;
    IoError expected;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, IoError::NoDevice},    {ERROR_PATH_NOT_FOUND, IoError::NoDevice},
      {ERROR_DEVICE_NOT_CONNECTED, IoError::NoDevice},
      {ERROR_BUSY, IoError::Busy},
      {ERROR_ACCESS_DENIED, IoError::PermissionDenied}, {ERROR_SHARING_VIOLATION, IoError::Busy},
      {ERROR_LOCK_VIOLATION, IoError::Busy},        {ERROR_NOT_SUPPORTED, IoError::NotSupported},
      {ERROR_INVALID_FUNCTION, IoError::NotSupported}, {ERROR_SEM_TIMEOUT, IoError::Timeout},
      {WAIT_TIMEOUT, IoError::Timeout},             {ERROR_INVALID_PARAMETER, IoError::OsFailure},
      {ERROR_IO_DEVICE, IoError::OsFailure},        {ERROR_GEN_FAILURE, IoError::OsFailure},
      {ERROR_CRC, IoError::OsFailure},
  };
  for (const Case& c : cases) {
    IoOutcome o = outcomeFromWindowsError(c.err, "open \\\\.\\PhysicalDrive1");
    EXPECT_EQ(o.error, c.expected) << c.err;
    EXPECT_EQ(o.osErrno, static_cast<int>(c.err));
    EXPECT_EQ(o.detail.rfind("open \\\\.\\PhysicalDrive1: ", 0), 0u) << o.detail;
    EXPECT_NE(o.detail.find("(error " + std::to_string(c.err) + ")"), std::string::npos) << o.detail;
  }
}

TEST(WindowsErrorMapping, TheDetailCarriesTheSystemText) {
  const std::string text = windowsErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '.');
  IoOutcome o = outcomeFromWindowsError(ERROR_ACCESS_DENIED, "open x");
  EXPECT_NE(o.detail.find(text), std::string::npos) << o.detail;
  EXPECT_NE(o.detail.find("run as administrator"), std::string::npos) << o.detail;
  EXPECT_EQ(outcomeFromWindowsError(ERROR_SHARING_VIOLATION, "x").detail.find("administrator"), std::string::npos);
  // A code without a message still says which it was.
  EXPECT_EQ(windowsErrorText(0x2000FFFF), "Windows error 536936447");
}

}  // namespace
}  // namespace zorv::platform
