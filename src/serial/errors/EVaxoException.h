// The serial engine's exception family. EVaxoException carries the error number it was raised
// for (negative as passed, 0 for the generic case) and, when built from a number, the message
// text of that number. Nine group classes sort the numbers by range; each number with a class
// of its own is an EVaxoLeaf of its group, so callers catch a single failure or a whole group.
//
// The family lives in this one header: its leaves are one-line aliases, and a file pair each
// would only scatter a single table over fifty files.
#pragma once

#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/Exception.h"

#include <string>

namespace pellwick {

class EVaxoException : public Exception {
public:
    // Message is ErrorMessage(number); the number is kept as passed.
    explicit EVaxoException(int errorNumber);
    // A message of its own; the error number is 0.
    explicit EVaxoException(std::string message);

    int ErrorNumber() const noexcept { return errorNumber_; }

private:
    int errorNumber_;
};

class EGeneral : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class EOpenComm : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class ESerialIO : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class EModem : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class ETrigger : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class EProtocol : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class EINI : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class EFax : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};
class ETapi : public EVaxoException {
public:
    using EVaxoException::EVaxoException;
};

// One failure of a group. Raised without an argument it carries its own number; EInternal is
// also raised for a few INI numbers and then keeps the number it was raised for.
template <class Group, int Number> class EVaxoLeaf : public Group {
public:
    static constexpr int kErrorNumber = Number;
    explicit EVaxoLeaf(int errorNumber = Number) : Group(errorNumber) {}
};

using EBadArgument = EVaxoLeaf<EGeneral, ecBadArgument>;
using EGotQuitMsg = EVaxoLeaf<EGeneral, ecGotQuitMsg>;
using EBufferTooBig = EVaxoLeaf<EGeneral, ecBufferTooBig>;
using EPortNotAssigned = EVaxoLeaf<EGeneral, ecPortNotAssigned>;
using EInternal = EVaxoLeaf<EGeneral, ecInternal>;
using EModemNotAssigned = EVaxoLeaf<EGeneral, ecModemNotAssigned>;
using EPhonebookNotAssigned = EVaxoLeaf<EGeneral, ecPhonebookNotAssigned>;
using ECannotUseWithWinSock = EVaxoLeaf<EGeneral, ecCannotUseWithWinSock>;

using EBadId = EVaxoLeaf<EOpenComm, ecBadId>;
using EBaudRate = EVaxoLeaf<EOpenComm, ecBaudRate>;
using EByteSize = EVaxoLeaf<EOpenComm, ecByteSize>;
using EDefault = EVaxoLeaf<EOpenComm, ecDefault>;
using EHardware = EVaxoLeaf<EOpenComm, ecHardware>;
using EMemory = EVaxoLeaf<EOpenComm, ecMemory>;
using ECommNotOpen = EVaxoLeaf<EOpenComm, ecCommNotOpen>;
using EAlreadyOpen = EVaxoLeaf<EOpenComm, ecAlreadyOpen>;
using ENoHandles = EVaxoLeaf<EOpenComm, ecNoHandles>;
using ENoTimers = EVaxoLeaf<EOpenComm, ecNoTimers>;
using ENoPortSelected = EVaxoLeaf<EOpenComm, ecNoPortSelected>;
using ENotOpenedByTapi = EVaxoLeaf<EOpenComm, ecNotOpenedByTapi>;

using ENullApi = EVaxoLeaf<ESerialIO, ecNullApi>;
using ERegisterHandlerFailed = EVaxoLeaf<ESerialIO, ecRegisterHandlerFailed>;
using EPutBlockFail = EVaxoLeaf<ESerialIO, ecPutBlockFail>;
using EGetBlockFail = EVaxoLeaf<ESerialIO, ecGetBlockFail>;
using EOutputBufferTooSmall = EVaxoLeaf<ESerialIO, ecOutputBufferTooSmall>;
using EBufferIsEmpty = EVaxoLeaf<ESerialIO, ecBufferIsEmpty>;
using ETracingNotEnabled = EVaxoLeaf<ESerialIO, ecTracingNotEnabled>;
using ELoggingNotEnabled = EVaxoLeaf<ESerialIO, ecLoggingNotEnabled>;
using EBaseAddressNotSet = EVaxoLeaf<ESerialIO, ecBaseAddressNotSet>;

using EModemNotStarted = EVaxoLeaf<EModem, ecModemNotStarted>;
using EModemBusy = EVaxoLeaf<EModem, ecModemBusy>;
using EModemNotDialing = EVaxoLeaf<EModem, ecModemNotDialing>;
using ENotDialing = EVaxoLeaf<EModem, ecNotDialing>;
using EAlreadyDialing = EVaxoLeaf<EModem, ecAlreadyDialing>;
using EModemNotResponding = EVaxoLeaf<EModem, ecModemNotResponding>;
using EModemRejectedCommand = EVaxoLeaf<EModem, ecModemRejectedCommand>;
using EModemStatusMismatch = EVaxoLeaf<EModem, ecModemStatusMismatch>;

using ETriggerTooLong = EVaxoLeaf<ETrigger, ecTriggerTooLong>;
using EBadTriggerHandle = EVaxoLeaf<ETrigger, ecBadTriggerHandle>;

using EKeyTooLong = EVaxoLeaf<EINI, ecKeyTooLong>;
using EDataTooLarge = EVaxoLeaf<EINI, ecDataTooLarge>;
using EIniWrite = EVaxoLeaf<EINI, ecIniWrite>;
using EIniRead = EVaxoLeaf<EINI, ecIniRead>;
using ERecordExists = EVaxoLeaf<EINI, ecRecordExists>;
using ERecordNotFound = EVaxoLeaf<EINI, ecRecordNotFound>;
using EDatabaseFull = EVaxoLeaf<EINI, ecDatabaseFull>;
using EDatabaseEmpty = EVaxoLeaf<EINI, ecDatabaseEmpty>;
using EBadFieldList = EVaxoLeaf<EINI, ecBadFieldList>;
using EBadFieldForIndex = EVaxoLeaf<EINI, ecBadFieldForIndex>;

} // namespace pellwick
