#include "serial/errors/ErrorToException.h"

#include "serial/errors/EIoError.h"
#include "serial/errors/EOutOfMemoryError.h"
#include "serial/errors/EVaxoException.h"
#include "serial/errors/ErrorMessage.h"

namespace pellwick {

namespace {

template <class E> void Raise(int errorNumber) {
    throw E(errorNumber);
}

struct ClassOfNumber {
    int number;
    void (*raise)(int);
};

// Numbers with a class of their own. -1001, -3002 and -5001 have none on purpose: they reach
// the generic case.
constexpr ClassOfNumber kClasses[] = {
    {ecBadArgument, &Raise<EBadArgument>},
    {ecGotQuitMsg, &Raise<EGotQuitMsg>},
    {ecBufferTooBig, &Raise<EBufferTooBig>},
    {ecPortNotAssigned, &Raise<EPortNotAssigned>},
    {ecInternal, &Raise<EInternal>},
    {ecModemNotAssigned, &Raise<EModemNotAssigned>},
    {ecPhonebookNotAssigned, &Raise<EPhonebookNotAssigned>},
    {ecCannotUseWithWinSock, &Raise<ECannotUseWithWinSock>},

    {ecBadId, &Raise<EBadId>},
    {ecBaudRate, &Raise<EBaudRate>},
    {ecByteSize, &Raise<EByteSize>},
    {ecDefault, &Raise<EDefault>},
    {ecHardware, &Raise<EHardware>},
    {ecMemory, &Raise<EMemory>},
    {ecCommNotOpen, &Raise<ECommNotOpen>},
    {ecAlreadyOpen, &Raise<EAlreadyOpen>},
    {ecNoHandles, &Raise<ENoHandles>},
    {ecNoTimers, &Raise<ENoTimers>},
    {ecNoPortSelected, &Raise<ENoPortSelected>},
    {ecNotOpenedByTapi, &Raise<ENotOpenedByTapi>},

    {ecNullApi, &Raise<ENullApi>},
    {ecRegisterHandlerFailed, &Raise<ERegisterHandlerFailed>},
    {ecPutBlockFail, &Raise<EPutBlockFail>},
    {ecGetBlockFail, &Raise<EGetBlockFail>},
    {ecOutputBufferTooSmall, &Raise<EOutputBufferTooSmall>},
    {ecBufferIsEmpty, &Raise<EBufferIsEmpty>},
    {ecTracingNotEnabled, &Raise<ETracingNotEnabled>},
    {ecLoggingNotEnabled, &Raise<ELoggingNotEnabled>},
    {ecBaseAddressNotSet, &Raise<EBaseAddressNotSet>},

    {ecModemNotStarted, &Raise<EModemNotStarted>},
    {ecModemBusy, &Raise<EModemBusy>},
    {ecModemNotDialing, &Raise<EModemNotDialing>},
    {ecNotDialing, &Raise<ENotDialing>},
    {ecAlreadyDialing, &Raise<EAlreadyDialing>},
    {ecModemNotResponding, &Raise<EModemNotResponding>},
    {ecModemRejectedCommand, &Raise<EModemRejectedCommand>},
    {ecModemStatusMismatch, &Raise<EModemStatusMismatch>},

    {ecTriggerTooLong, &Raise<ETriggerTooLong>},
    {ecBadTriggerHandle, &Raise<EBadTriggerHandle>},

    {ecProtocolFirst, &Raise<EProtocol>},
    {ecProtocolSecond, &Raise<EProtocol>},
    {ecProtocolThird, &Raise<EProtocol>},

    {ecKeyTooLong, &Raise<EKeyTooLong>},
    {ecDataTooLarge, &Raise<EDataTooLarge>},
    {ecIniInternalFirst, &Raise<EInternal>},
    {ecIniWrite, &Raise<EIniWrite>},
    {ecIniRead, &Raise<EIniRead>},
    {ecIniInternalSecond, &Raise<EInternal>},
    {ecRecordExists, &Raise<ERecordExists>},
    {ecRecordNotFound, &Raise<ERecordNotFound>},
    {ecDatabaseFull, &Raise<EDatabaseFull>},
    {ecDatabaseEmpty, &Raise<EDatabaseEmpty>},
    {ecIniInternalThird, &Raise<EInternal>},
    {ecBadFieldList, &Raise<EBadFieldList>},
    {ecBadFieldForIndex, &Raise<EBadFieldForIndex>},
};

// Bounds are negative: first is the number nearest zero.
bool InBlock(int number, int first, int last) {
    return number <= first && number >= last;
}

} // namespace

int ErrorToException(int result, bool ownerLoading) {
    if (result >= 0 || ownerLoading) {
        return result;
    }
    for (const ClassOfNumber& entry : kClasses) {
        if (entry.number == result) {
            entry.raise(result);
        }
    }
    // Fax and telephony numbers have no class of their own here: they raise their group.
    if (InBlock(result, ecFaxFirst, ecFaxLast) || InBlock(result, ecFaxPageFirst, ecFaxPageLast)) {
        throw EFax(result);
    }
    if (InBlock(result, ecTapiFirst, ecTapiLast) ||
        InBlock(result, ecTapiTranslateFirst, ecTapiTranslateLast)) {
        throw ETapi(result);
    }
    if (result == ecIoOutOfMemory) {
        throw EOutOfMemoryError();
    }
    if (InBlock(result, ecIoFirst, ecIoLast)) {
        throw EIoError(IoErrorMessage(result), -result);
    }
    throw EVaxoException(std::string("Vaxo exception"));
}

} // namespace pellwick
