#pragma once
// Decoding of the modem's answers: pure functions from the values the AT
// channel parsed to typed results. They log at most what they refuse (with
// the values, never a secret) and touch nothing else, so each is tested from
// answer texts alone.

#include "platform/log/log.h"
#include "src/components/ltemodem/atcommand.h"
#include "src/components/ltemodem/imodem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Modem {

// "+CEREG: <n>,<stat>[,...]" and "+CGREG: <n>,<stat>[,...]": the state, or
// nullopt for a state outside 0..5 or a missing one.
std::optional<ERegistrationState> ParseRegistration(const std::vector<std::string>& values, const char* name);
// "+QIACT: 1,<state>,<type>,\"<address>\"", or no line for no context.
std::optional<PdpContext> ParseQiact(const std::vector<std::string>& values);
// "+QCSQ: \"<tech>\"[,<rssi>[,<rsrp>,<sinr>,<rsrq>]]" into info; false when refused.
bool ParseQcsq(const std::vector<std::string>& values, SignalInfo& info);
// "+QNWINFO: \"<tech>\",\"<operator>\",\"<band>\",<channel>" into info.
bool ParseQnwinfo(const std::vector<std::string>& values, SignalInfo& info);
// "+QTEMP: <a>,<b>,<c>": every value a number.
std::optional<std::vector<std::int32_t>> ParseQtemp(const std::vector<std::string>& values);

// The decoders below give nullopt for an answer too short to hold what they
// read; the caller logs the failure. A "+QCFG:" answer's values start with
// the empty text before the first ",".

// "+QCFGEXT: \"usbnet\",\"<mode>\"": whether the mode is ECM.
std::optional<bool> ParseUsbnetEcm(const std::vector<std::string>& values);
// "+QCFG: \"band\",<gsm>,<emtc>,<nbiot>": the three band masks.
std::optional<std::vector<std::string>> ParseBands(const std::vector<std::string>& values);
// "+QCFG: \"nwscanseq\",<sequence>": the scan sequence alone.
std::optional<std::string> ParseScanSeq(const std::vector<std::string>& values);
// "+QCFG: \"iotopmode\",<mode>[,...]": the mode.
std::optional<std::string> ParseIotOpMode(const std::vector<std::string>& values);
// "+QCFG: \"simeffect\",<0|1>": whether the SIM detection is in effect.
std::optional<bool> ParseSimEffect(const std::vector<std::string>& values);
// The modem's network configuration file: whether it allows roaming.
std::optional<bool> ParseRoaming(const std::vector<std::string>& values);
// An identity (firmware, IMEI, ICCID, IMSI): the first value.
std::optional<std::string> ParseIdentity(const std::vector<std::string>& values);
// "+QSIMSTAT: <n>,<inserted>": whether a SIM is inserted.
std::optional<bool> ParseQsimstat(const std::vector<std::string>& values);
// "+CPIN: <status>": the status ("READY", "SIMPIN", ...).
std::optional<std::string> ParseCpin(const std::vector<std::string>& values);
// "+QPINC: \"SC\",<pin attempts>,<puk attempts>": the PIN attempts left.
std::optional<std::int32_t> ParseQpinc(const std::vector<std::string>& values);
// "+CMGF: <mode>": whether messages are in text mode.
std::optional<bool> ParseCmgfText(const std::vector<std::string>& values);
// "+QIDNSCFG: 1,<primary>,<secondary>": both servers.
std::optional<std::vector<std::string>> ParseQidnscfg(const std::vector<std::string>& values);
// "+COPS: <mode>,<format>,<operator>[,...]": the operator.
std::optional<std::string> ParseCops(const std::vector<std::string>& values);

// Decodes an answer that came back Ok into out. An answer that failed, or
// that the decoder refuses, leaves out alone, is logged with the failure
// text and gives Error.
template <typename T, typename Decoder>
EAtResult Decode(const AtResponse& response, Decoder decode, T& out, const char* failure)
{
    auto value = response.result == EAtResult::Ok ? decode(response.values) : std::nullopt;
    if (!value) {
        TLOG_ERROR("{}", failure);
        return EAtResult::Error;
    }
    out = std::move(*value);
    return EAtResult::Ok;
}

} // namespace Modem
