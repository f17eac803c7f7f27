// What the engine makes of the device layer's results. The port tells its open failures apart
// by these numbers ("access denied" becomes "already open"), and the user sees their texts.
#include "serial/DeviceResult.h"
#include "serial/DispatcherTypes.h"
#include "serial/errors/EVaxoException.h"
#include "serial/errors/ErrorMessage.h"
#include "serial/errors/ErrorToException.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

constexpr DeviceError kCodes[] = {
    DeviceError::None,         DeviceError::NotFound,  DeviceError::Busy,
    DeviceError::NoPermission, DeviceError::IoFailure, DeviceError::NoMemory,
    DeviceError::Unsupported,  DeviceError::Failed,
};

// The message a user would be shown for an engine number; empty when it raises the generic
// exception, which says nothing of what happened.
std::string MessageOf(int number) {
    try {
        ErrorToException(number);
    } catch (const EVaxoException&) {
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

// Whatever errno comes with a code, and even a code with a value no system call gives.
TEST(DeviceResultTest, EveryFailureBecomesANegativeNumberWithAMessageOfItsOwn) {
    for (const DeviceError code : kCodes) {
        for (int err = -1; err <= 200; ++err) {
            const DeviceResult result(code, err);
            const int number = EngineNumberOf(result);
            SCOPED_TRACE(testing::Message()
                         << "code " << static_cast<int>(code) << ", errno " << err << " ("
                         << result.SystemText() << "): number " << number);
            if (code == DeviceError::None) {
                EXPECT_EQ(number, 0);
                continue;
            }
            ASSERT_LT(number, 0);
            EXPECT_NE(MessageOf(number), "");
            // Only a device another program holds reads as access denied (already open).
            EXPECT_EQ(number == dr::DeviceAccessDenied, code == DeviceError::Busy);
            if (number == dr::DeviceNotFound || number == dr::PathNotFound) {
                EXPECT_EQ(code, DeviceError::NotFound);
            }
            if (number == ecIoOutOfMemory) {
                EXPECT_EQ(code, DeviceError::NoMemory);
            }
        }
    }
}

// The errno of a failed system call: EIO (5, the number of "access denied") above all is a
// failing device, never one held by another program.
TEST(DeviceResultTest, OnlyBusyErrnoValuesReadAsAccessDenied) {
    EXPECT_NE(EngineNumberOf(DeviceResult::FromErrno(EIO)), dr::DeviceAccessDenied);
    for (int err = 1; err <= 200; ++err) {
        const int number = EngineNumberOf(DeviceResult::FromErrno(err));
        EXPECT_EQ(number == dr::DeviceAccessDenied, err == EBUSY || err == EWOULDBLOCK) << err;
    }
}

// An errno whose number the message table also holds (ECONNRESET is 104, "File not open for
// input" there) is told in the system's words; the engine's own numbers keep the table's texts.
TEST(DeviceResultTest, SystemErrorsReadAsTheSystemTellsThemAndTheEnginesNumbersAsTheTable) {
    for (int err : {EINTR, ENOTBLK, EXDEV, ENETDOWN, ENETRESET, ECONNRESET, ENOBUFS, EINVAL}) {
        EXPECT_EQ(MessageOf(EngineNumberOf(DeviceResult::FromErrno(err))), SystemErrorText(err))
            << err;
    }
    EXPECT_EQ(MessageOf(dr::DeviceNotFound), "File not found");
    EXPECT_EQ(MessageOf(dr::PathNotFound), "Path not found");
    EXPECT_EQ(MessageOf(dr::DeviceAccessDenied), "File access denied");
    EXPECT_EQ(MessageOf(dr::GeneralFailure), "General failure");
}

} // namespace
} // namespace pellwick
