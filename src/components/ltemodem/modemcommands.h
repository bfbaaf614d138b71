#pragma once
// The modem's command descriptors: command text, expected prefix, line
// validator, time limit and logging, one constant per command.

#include "src/components/ltemodem/atcommand.h"

#include <chrono>
#include <string_view>

namespace Modem::Commands {

using namespace std::chrono_literals;

bool IsFifteenDigits(std::string_view line);
bool IsModemFirmware(std::string_view line);

// clang-format off
inline constexpr AtCommand kUsbNetQuery {.command = "AT+QCFGEXT=\"usbnet\"", .expected = "+QCFGEXT: \"usbnet\",", .timeout = 500ms};
inline constexpr AtCommand kUsbNetEcm {.command = "AT+QCFGEXT=\"usbnet\",\"ecm\"", .timeout = 500ms};
inline constexpr AtCommand kSimStatus {.command = "AT+QSIMSTAT?", .expected = "+QSIMSTAT:", .timeout = 500ms};
inline constexpr AtCommand kPinStatus {.command = "AT+CPIN?", .expected = "+CPIN:", .timeout = 6000ms};
inline constexpr AtCommand kPinEnter {.command = "AT+CPIN=", .timeout = 6000ms, .secret = true};
// Remaining PIN and PUK attempts of the SIM card.
inline constexpr AtCommand kPinAttempts {.command = "AT+QPINC=\"SC\"", .expected = "+QPINC:", .timeout = 500ms};
inline constexpr AtCommand kIccid {.command = "AT+QCCID", .expected = "+QCCID:", .timeout = 500ms};
inline constexpr AtCommand kImsi {.command = "AT+CIMI", .validator = IsFifteenDigits, .timeout = 500ms, .quiet = true};
inline constexpr AtCommand kImei {.command = "AT+GSN", .validator = IsFifteenDigits, .timeout = 500ms};
inline constexpr AtCommand kOperator {.command = "AT+COPS?", .expected = "+COPS:", .timeout = 181000ms, .quiet = true};
inline constexpr AtCommand kLteRegistration {.command = "AT+CEREG?", .expected = "+CEREG:", .timeout = 500ms, .quiet = true};
inline constexpr AtCommand kEgprsRegistration {.command = "AT+CGREG?", .expected = "+CGREG:", .timeout = 500ms, .quiet = true};
inline constexpr AtCommand kSignalQuality {.command = "AT+QCSQ", .expected = "+QCSQ:", .timeout = 500ms, .quiet = true};
inline constexpr AtCommand kScanSeqQuery {.command = "AT+QCFG=\"nwscanseq\"", .expected = "+QCFG: \"nwscanseq\"", .timeout = 500ms};
inline constexpr AtCommand kScanSeqSet {.command = "AT+QCFG=\"nwscanseq\",", .timeout = 500ms};
inline constexpr AtCommand kIotModeQuery {.command = "AT+QCFG=\"iotopmode\"", .expected = "+QCFG: \"iotopmode\"", .timeout = 500ms};
inline constexpr AtCommand kIotModeSet {.command = "AT+QCFG=\"iotopmode\",", .timeout = 500ms};
inline constexpr AtCommand kBandQuery {.command = "AT+QCFG=\"band\"", .expected = "+QCFG: \"band\"", .timeout = 500ms};
inline constexpr AtCommand kBandSet {.command = "AT+QCFG=\"band\",", .timeout = 500ms};
inline constexpr AtCommand kFastPowerOff {.command = "AT+QCFG=\"fast/poweroff\",25,1", .timeout = 500ms};
inline constexpr AtCommand kSimEffectQuery {.command = "AT+QCFG=\"simeffect\"", .expected = "+QCFG: \"simeffect\"", .timeout = 500ms};
inline constexpr AtCommand kSimEffectSet {.command = "AT+QCFG=\"simeffect\",", .timeout = 500ms};
inline constexpr AtCommand kSmsFormatQuery {.command = "AT+CMGF?", .expected = "+CMGF:", .timeout = 500ms};
inline constexpr AtCommand kSmsTextMode {.command = "AT+CMGF=1", .timeout = 500ms};
inline constexpr AtCommand kSmsStorage {.command = "AT+CPMS=\"SM\",\"SM\",\"SM\"", .expected = "+CPMS", .timeout = 500ms};
inline constexpr AtCommand kSmsDeleteAll {.command = "AT+CMGD=1,4", .timeout = 10000ms, .quiet = true};
// Deletes the messages already read: those a listing handed out, never one
// that arrived after it.
inline constexpr AtCommand kSmsDeleteRead {.command = "AT+CMGD=1,1", .timeout = 10000ms, .quiet = true};
inline constexpr AtCommand kSmsListUnread {.command = "AT+CMGL=\"REC UNREAD\"", .timeout = 500ms, .quiet = true, .bodies = true};
inline constexpr AtCommand kDnsQuery {.command = "AT+QIDNSCFG=1", .expected = "+QIDNSCFG", .timeout = 61000ms, .quiet = true};
inline constexpr AtCommand kPdpQuery {.command = "AT+QIACT?", .timeout = 151000ms, .quiet = true};
inline constexpr AtCommand kPdpActivate {.command = "AT+QIACT=1", .timeout = 151000ms};
// The answer carries the APN password: nothing of it is logged.
inline constexpr AtCommand kApnQuery {.command = "AT+QICSGP=1", .expected = "+QICSGP:", .timeout = 500ms, .secret = true};
inline constexpr AtCommand kApnSet {.command = "AT+QICSGP=1,", .timeout = 500ms, .secret = true};
inline constexpr AtCommand kRadioOff {.command = "AT+CFUN=0", .timeout = 16000ms};
inline constexpr AtCommand kRadioOn {.command = "AT+CFUN=1", .timeout = 16000ms};
inline constexpr AtCommand kRoamingDelete {.command = "AT+QFDEL=\"eufs:/datatx/qcmap_config\"", .timeout = 500ms};
inline constexpr AtCommand kRoamingRead {.command = "AT+QFDWL=\"eufs:/datatx/qcmap_config\"", .timeout = 500ms};
inline constexpr AtCommand kFirmware {.command = "AT+QGMR", .validator = IsModemFirmware, .timeout = 500ms};
inline constexpr AtCommand kTemperatures {.command = "AT+QTEMP", .expected = "+QTEMP:", .timeout = 500ms, .quiet = true};
inline constexpr AtCommand kNetworkInfo {.command = "AT+QNWINFO", .expected = "+QNWINFO:", .timeout = 500ms, .quiet = true};
// clang-format on

} // namespace Modem::Commands
