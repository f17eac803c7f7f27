// Error numbers of the serial engine. Operations return 0 or a positive count on success and
// one of these negative numbers on failure; negated operating-system error numbers (-errno)
// share the same channel. ErrorToException turns a number into its exception class.
#pragma once

namespace pellwick {

// General (EGeneral)
inline constexpr int ecBadHandle = -1001; // no class of its own: raised as the generic exception
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
inline constexpr int ecBufferTooBig = -1004;
inline constexpr int ecPortNotAssigned = -1005;
inline constexpr int ecInternal = -1006;
inline constexpr int ecModemNotAssigned = -1007;
inline constexpr int ecPhonebookNotAssigned = -1008;
inline constexpr int ecCannotUseWithWinSock = -1009;

// Opening the port (EOpenComm)
inline constexpr int ecBadId = -2001;
inline constexpr int ecBaudRate = -2002;
inline constexpr int ecByteSize = -2003;
inline constexpr int ecDefault = -2004;
inline constexpr int ecHardware = -2005;
inline constexpr int ecMemory = -2006;
inline constexpr int ecCommNotOpen = -2007;
inline constexpr int ecAlreadyOpen = -2008;
inline constexpr int ecNoHandles = -2009;
inline constexpr int ecNoTimers = -2010;
inline constexpr int ecNoPortSelected = -2011;
inline constexpr int ecNotOpenedByTapi = -2012;

// Serial input/output (ESerialIO)
inline constexpr int ecNullApi = -3001;
inline constexpr int ecNotSupported = -3002; // no class of its own: generic exception
inline constexpr int ecRegisterHandlerFailed = -3003;
inline constexpr int ecPutBlockFail = -3004;
inline constexpr int ecGetBlockFail = -3005;
inline constexpr int ecOutputBufferTooSmall = -3006;
inline constexpr int ecBufferIsEmpty = -3007;
inline constexpr int ecTracingNotEnabled = -3008;
inline constexpr int ecLoggingNotEnabled = -3009;
inline constexpr int ecBaseAddressNotSet = -3010;

// Modem (EModem)
inline constexpr int ecModemNotStarted = -4001;
inline constexpr int ecModemBusy = -4002;
inline constexpr int ecModemNotDialing = -4003;
inline constexpr int ecNotDialing = -4004;
inline constexpr int ecAlreadyDialing = -4005;
inline constexpr int ecModemNotResponding = -4006;
inline constexpr int ecModemRejectedCommand = -4007;
inline constexpr int ecModemStatusMismatch = -4008;

// Triggers (ETrigger)
inline constexpr int ecNoMoreTriggers = -5001; // no class of its own: generic exception
inline constexpr int ecTriggerTooLong = -5002;
inline constexpr int ecBadTriggerHandle = -5003;

// File-transfer protocol (EProtocol, the group class itself)
inline constexpr int ecProtocolFirst = -6006;
inline constexpr int ecProtocolSecond = -6008;
inline constexpr int ecProtocolThird = -6009;

// INI database (EINI); -7003, -7006 and -7012 are internal faults (EInternal)
inline constexpr int ecKeyTooLong = -7001;
inline constexpr int ecDataTooLarge = -7002;
inline constexpr int ecIniInternalFirst = -7003;
inline constexpr int ecIniWrite = -7004;
inline constexpr int ecIniRead = -7005;
inline constexpr int ecIniInternalSecond = -7006;
inline constexpr int ecRecordExists = -7007;
inline constexpr int ecRecordNotFound = -7008;
inline constexpr int ecDatabaseFull = -7010;
inline constexpr int ecDatabaseEmpty = -7011;
inline constexpr int ecIniInternalThird = -7012;
inline constexpr int ecBadFieldList = -7013;
inline constexpr int ecBadFieldForIndex = -7014;

// Fax (EFax): two blocks of numbers, each bound inclusive
inline constexpr int ecFaxFirst = -8001;
inline constexpr int ecFaxLast = -8005;
inline constexpr int ecFaxPageFirst = -8060;
inline constexpr int ecFaxPageLast = -8070;

// Telephony (ETapi): two blocks of numbers, each bound inclusive
inline constexpr int ecTapiFirst = -13801;
inline constexpr int ecTapiLast = -13886;
inline constexpr int ecTapiTranslateFirst = -13928;
inline constexpr int ecTapiTranslateLast = -13942;

// Run-time input/output errors: -ecIoLast .. -ecIoFirst, with one for memory
inline constexpr int ecIoFirst = -2;
inline constexpr int ecIoLast = -162;
inline constexpr int ecIoOutOfMemory = -8;
// The run-time numbers the engine gives itself, which read as the message table has them. Every
// other number of the block is a negated errno, and the system's text for it is its message:
// many errno values are also ids of the table's run-time texts (ECONNRESET, 104, is "File not
// open for input" there).
inline constexpr int ecIoFileNotFound = -2;
inline constexpr int ecIoPathNotFound = -3;
inline constexpr int ecIoAccessDenied = -5;
inline constexpr int ecIoGeneralFailure = -162;

constexpr bool IsEngineIoNumber(int number) {
    return number == ecIoFileNotFound || number == ecIoPathNotFound || number == ecIoAccessDenied ||
           number == ecIoOutOfMemory || number == ecIoGeneralFailure;
}

} // namespace pellwick
