#include "serial/errors/ErrorToException.h"
#include "serial/errors/EIoError.h"
#include "serial/errors/EOutOfMemoryError.h"
#include "serial/errors/EVaxoException.h"
#include "serial/errors/ErrorMessage.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

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

template <class Group> bool IsA(const Exception& e) {
    return dynamic_cast<const Group*>(&e) != nullptr;
}

// Whether e belongs to the group of a number's thousand block; null outside the engine's blocks.
using GroupCheck = bool (*)(const Exception&);
GroupCheck GroupOfBlock(int number) {
    constexpr GroupCheck byBlock[] = {
        nullptr,        &IsA<EGeneral>,  &IsA<EOpenComm>, &IsA<ESerialIO>, &IsA<EModem>,
        &IsA<ETrigger>, &IsA<EProtocol>, &IsA<EINI>,      &IsA<EFax>,      nullptr,
        nullptr,        nullptr,         nullptr,         &IsA<ETapi>};
    return number < 0 && number > -14000 ? byBlock[-number / 1000] : nullptr;
}

bool InBlock(int number, int first, int last) {
    return number <= first && number >= last;
}

// Whatever a negative number raises: an engine exception keeps the number and its table text and
// is caught by the group of the number's block (the INI block's internal faults by EInternal);
// the run-time block raises I/O errors with the positive code, the fax and telephony blocks
// their group; anything else is the generic exception without a number.
TEST(ErrorToExceptionTest, EveryNumberRaisesWhatItsBlockPromises) {
    std::vector<int> numbers{INT_MIN};
    for (int n = -1; n >= -14000; --n) {
        numbers.push_back(n);
    }
    for (int n : numbers) {
        ExpectRaise(n, [n](const Exception& e) {
            if (typeid(e) == typeid(EOutOfMemoryError)) {
                EXPECT_EQ(n, ecIoOutOfMemory);
                return;
            }
            if (const auto* io = dynamic_cast<const EIoError*>(&e)) {
                EXPECT_TRUE(InBlock(n, ecIoFirst, ecIoLast)) << n;
                EXPECT_EQ(io->ErrorCode(), -n);
                EXPECT_EQ(e.Message(), IoErrorMessage(n)) << n;
                return;
            }
            EXPECT_FALSE(InBlock(n, ecIoFirst, ecIoLast) && n != ecIoOutOfMemory)
                << n << " is a run-time number";
            const auto& vaxo = dynamic_cast<const EVaxoException&>(e);
            if (typeid(e) == typeid(EVaxoException)) {
                EXPECT_EQ(vaxo.ErrorNumber(), 0) << n;
                EXPECT_EQ(e.Message(), "Vaxo exception") << n;
                EXPECT_FALSE(InBlock(n, ecFaxFirst, ecFaxLast) ||
                             InBlock(n, ecFaxPageFirst, ecFaxPageLast) ||
                             InBlock(n, ecTapiFirst, ecTapiLast) ||
                             InBlock(n, ecTapiTranslateFirst, ecTapiTranslateLast))
                    << n << " lost its group";
                return;
            }
            EXPECT_EQ(vaxo.ErrorNumber(), n);
            EXPECT_EQ(e.Message(), ErrorMessage(n)) << n;
            EXPECT_STREQ(e.what(), e.Message().c_str());
            const GroupCheck inGroup = GroupOfBlock(n);
            ASSERT_NE(inGroup, nullptr) << n << " raised " << typeid(e).name();
            const bool internal = inGroup == &IsA<EINI> && typeid(e) == typeid(EInternal);
            EXPECT_TRUE(internal || inGroup(e)) << n << " raised " << typeid(e).name();
        });
    }
}

// Each failure with a class of its own is raised as that class for its own number, and those
// of the groups the program's table covers have a text.
template <class... Leaf> void ExpectEachLeafRaisedForItsNumber() {
    (ExpectRaise(Leaf::kErrorNumber,
                 [](const Exception& e) {
                     EXPECT_EQ(typeid(e), typeid(Leaf)) << Leaf::kErrorNumber;
                     const bool tableText = IsA<EGeneral>(e) || IsA<EOpenComm>(e) ||
                                            IsA<ESerialIO>(e) || IsA<ETrigger>(e);
                     EXPECT_TRUE(!tableText || !e.Message().empty()) << Leaf::kErrorNumber;
                 }),
     ...);
}

TEST(ErrorToExceptionTest, EachLeafIsRaisedForItsOwnNumber) {
    ExpectEachLeafRaisedForItsNumber<
        EBadArgument, EGotQuitMsg, EBufferTooBig, EPortNotAssigned, EInternal, EModemNotAssigned,
        EPhonebookNotAssigned, ECannotUseWithWinSock, EBadId, EBaudRate, EByteSize, EDefault,
        EHardware, EMemory, ECommNotOpen, EAlreadyOpen, ENoHandles, ENoTimers, ENoPortSelected,
        ENotOpenedByTapi, ENullApi, ERegisterHandlerFailed, EPutBlockFail, EGetBlockFail,
        EOutputBufferTooSmall, EBufferIsEmpty, ETracingNotEnabled, ELoggingNotEnabled,
        EBaseAddressNotSet, EModemNotStarted, EModemBusy, EModemNotDialing, ENotDialing,
        EAlreadyDialing, EModemNotResponding, EModemRejectedCommand, EModemStatusMismatch,
        ETriggerTooLong, EBadTriggerHandle, EKeyTooLong, EDataTooLarge, EIniWrite, EIniRead,
        ERecordExists, ERecordNotFound, EDatabaseFull, EDatabaseEmpty, EBadFieldList,
        EBadFieldForIndex>();
    for (int n : {ecIniInternalFirst, ecIniInternalSecond, ecIniInternalThird}) {
        ExpectRaise(n, [](const Exception& e) { EXPECT_EQ(typeid(e), typeid(EInternal)); });
    }
    for (int n : {ecProtocolFirst, ecProtocolSecond, ecProtocolThird}) {
        ExpectRaise(n, [](const Exception& e) { EXPECT_EQ(typeid(e), typeid(EProtocol)); });
    }
}

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
