#include "serial/errors/ErrorToException.h"
#include "serial/errors/EIoError.h"
#include "serial/errors/EOutOfMemoryError.h"
#include "serial/errors/EVaxoException.h"
#include "serial/errors/ErrorMessage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>

namespace pellwick {
namespace {

// Runs ErrorToException and hands the exception it raised to check, failing when none or a
// foreign one was raised.
void ExpectRaise(int result, const std::function<void(const Exception&)>& check) {
    try {
        ErrorToException(result);
        ADD_FAILURE() << result << " returned instead of raising";
    } catch (const Exception& e) {
        check(e);
    } catch (...) {
        ADD_FAILURE() << result << " raised something outside the project's exceptions";
    }
}

// Non-negative results pass through; while loading, negative ones are returned, not raised.
TEST(ErrorToExceptionTest, ResultsThatAreReturnedNotRaised) {
    for (int result : {0, 1, 7, 8192, INT_MAX}) {
        EXPECT_EQ(ErrorToException(result), result);
        EXPECT_EQ(ErrorToException(result, true), result);
    }
    for (int result : {-1, -2, -8, -87, -1001, -2007, -5003, -13801, INT_MIN}) {
        EXPECT_EQ(ErrorToException(result, true), result);
    }
}

// Run-time numbers raise an I/O error with the positive code, outside the serial engine's
// family. 87 has no table text: its message is the C library's text for errno 87, cleaned.
TEST(ErrorToExceptionTest, RunTimeIoNumbersRaiseIoErrorWithPositiveCode) {
    const char* system87 = strerrordesc_np(87);
    ASSERT_NE(system87, nullptr);
    const struct {
        int number;
        std::string message;
    } rows[] = {{-2, "File not found"},
                {-5, "File access denied"},
                {-162, "General failure"},
                {-87, CleanSystemText(system87)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number);
        ExpectRaise(row.number, [&row](const Exception& e) {
            ASSERT_EQ(typeid(e), typeid(EIoError));
            EXPECT_EQ(e.Message(), row.message);
            EXPECT_FALSE(e.Message().empty());
            EXPECT_EQ(dynamic_cast<const EIoError&>(e).ErrorCode(), -row.number);
            EXPECT_EQ(dynamic_cast<const EVaxoException*>(&e), nullptr);
        });
    }
}

TEST(ErrorToExceptionTest, MinusEightRaisesOutOfMemory) {
    ExpectRaise(-8, [](const Exception& e) { EXPECT_EQ(typeid(e), typeid(EOutOfMemoryError)); });
}

TEST(ErrorToExceptionTest, NumbersWithoutClassRaiseGenericVaxoException) {
    for (int result : {-1001, -3002, -5001, -1, -163, -999, -1010, -4009, -6007, -8006, -13800,
                       -13943, INT_MIN}) {
        ExpectRaise(result, [result](const Exception& e) {
            EXPECT_EQ(typeid(e), typeid(EVaxoException)) << result;
            EXPECT_EQ(e.Message(), "Vaxo exception") << result;
            EXPECT_EQ(dynamic_cast<const EVaxoException&>(e).ErrorNumber(), 0) << result;
        });
    }
}

// One row per number: the exact class, its group, and its message.
struct ClassRow {
    int number;
    std::type_index type;
    bool (*inGroup)(const Exception&);
    const char* message;
};

void PrintTo(const ClassRow& row, std::ostream* os) {
    *os << row.number;
}

class SerialEngineClassTest : public ::testing::TestWithParam<ClassRow> {};

template <class E, class G> ClassRow Row(int number, const char* message) {
    static_assert(std::is_base_of_v<G, E> && std::is_base_of_v<EVaxoException, G>);
    return {number, typeid(E),
            [](const Exception& e) { return dynamic_cast<const G*>(&e) != nullptr; }, message};
}

TEST_P(SerialEngineClassTest, NumberRaisesItsClassWithTableText) {
    const ClassRow& row = GetParam();
    ExpectRaise(row.number, [&row](const Exception& e) {
        EXPECT_EQ(std::type_index(typeid(e)), row.type);
        EXPECT_EQ(e.Message(), row.message);
        EXPECT_STREQ(e.what(), row.message);
        const auto& vaxo = dynamic_cast<const EVaxoException&>(e);
        EXPECT_EQ(vaxo.ErrorNumber(), row.number);
        EXPECT_TRUE(row.inGroup(e)) << "not caught by its group";
    });
}

INSTANTIATE_TEST_SUITE_P(
    AllNumbers, SerialEngineClassTest,
    ::testing::Values(
        Row<EBadArgument, EGeneral>(-1002, "Bad argument passed to function"),
        Row<EGotQuitMsg, EGeneral>(-1003, "Got quit message"),
        Row<EBufferTooBig, EGeneral>(-1004, "Terminal buffer greater than 65521"),
        Row<EPortNotAssigned, EGeneral>(-1005, "ComPort component not assigned"),
        Row<EInternal, EGeneral>(-1006, "Internal error creating window class"),
        Row<EModemNotAssigned, EGeneral>(-1007, "Modem component not assigned"),
        Row<EPhonebookNotAssigned, EGeneral>(-1008, "Phonebook component not assigned"),
        Row<ECannotUseWithWinSock, EGeneral>(-1009, "Component not compatible with WinSock"),
        Row<EBadId, EOpenComm>(-2001, "ie_BadId - Specified comport doesn't exist"),
        Row<EBaudRate, EOpenComm>(-2002, "ie_Baudrate - unsupported baud rate"),
        Row<EByteSize, EOpenComm>(-2003, "ie_Bytesize - invalid byte size"),
        Row<EDefault, EOpenComm>(-2004, "ie_Default - error in default parameters"),
        Row<EHardware, EOpenComm>(-2005, "ie_Hardware - Specified comport in use"),
        Row<EMemory, EOpenComm>(-2006, "ie_Memory - unable to allocate queues"),
        Row<ECommNotOpen, EOpenComm>(-2007, "ie_NOpen - device not open"),
        Row<EAlreadyOpen, EOpenComm>(-2008, "ie_Open - device already open"),
        Row<ENoHandles, EOpenComm>(-2009, "No more handles, can't open port"),
        Row<ENoTimers, EOpenComm>(-2010, "No timers available"),
        Row<ENoPortSelected, EOpenComm>(
            -2011, "The ComNumber property of the TVaxoComPort has not been set"),
        Row<ENotOpenedByTapi, EOpenComm>(-2012, "Comport was not opened by Tapi"),
        Row<ENullApi, ESerialIO>(-3001, "No device layer specified"),
        Row<ERegisterHandlerFailed, ESerialIO>(-3003, "EnableCommNotification failed"),
        Row<EPutBlockFail, ESerialIO>(-3004, "Failed to put entire block"),
        Row<EGetBlockFail, ESerialIO>(-3005, "Failed to get entire block"),
        Row<EOutputBufferTooSmall, ESerialIO>(-3006, "Output buffer too small for block"),
        Row<EBufferIsEmpty, ESerialIO>(-3007, "Buffer is empty"),
        Row<ETracingNotEnabled, ESerialIO>(-3008, "Tracing not enabled"),
        Row<ELoggingNotEnabled, ESerialIO>(-3009, "Logging not enabled"),
        Row<EBaseAddressNotSet, ESerialIO>(-3010, "Base address not set"),
        Row<ETriggerTooLong, ETrigger>(-5002, "Data trigger too long"),
        Row<EBadTriggerHandle, ETrigger>(-5003, "Bad trigger handle"),
        // The other groups: the texts of these ranges are not in the program's table.
        Row<EModemNotStarted, EModem>(-4001, ""), Row<EAlreadyDialing, EModem>(-4005, ""),
        Row<EModemStatusMismatch, EModem>(-4008, ""), Row<EProtocol, EProtocol>(-6006, ""),
        Row<EProtocol, EProtocol>(-6008, ""), Row<EProtocol, EProtocol>(-6009, ""),
        Row<EKeyTooLong, EINI>(-7001, ""), Row<EBadFieldForIndex, EINI>(-7014, ""),
        Row<EInternal, EGeneral>(-7003, ""), Row<EInternal, EGeneral>(-7006, ""),
        Row<EInternal, EGeneral>(-7012, ""), Row<EFax, EFax>(-8001, ""), Row<EFax, EFax>(-8005, ""),
        Row<EFax, EFax>(-8060, ""), Row<EFax, EFax>(-8070, ""), Row<ETapi, ETapi>(-13801, ""),
        Row<ETapi, ETapi>(-13886, ""), Row<ETapi, ETapi>(-13928, ""),
        Row<ETapi, ETapi>(-13942, "")),
    [](const ::testing::TestParamInfo<ClassRow>& rowInfo) {
        return "Minus" + std::to_string(-rowInfo.param.number);
    });

TEST(ErrorToExceptionTest, LeafRaisedWithoutNumberCarriesItsOwn) {
    const ECommNotOpen e;
    EXPECT_EQ(e.ErrorNumber(), ecCommNotOpen);
    EXPECT_EQ(e.Message(), "ie_NOpen - device not open");
    const EVaxoException custom(std::string("custom text"));
    EXPECT_EQ(custom.ErrorNumber(), 0);
    EXPECT_EQ(custom.Message(), "custom text");
}

} // namespace
} // namespace pellwick
