#pragma once
// Decoding of the modem's answers: pure functions from the values the AT
// channel parsed to typed results. They log what they refuse (with the
// values, never a secret) and touch nothing else, so each is tested from
// answer texts alone.

#include "src/components/ltemodem/atcommand.h"
#include "src/components/ltemodem/imodem.h"

#include <cstdint>
#include <optional>
#include <string>
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
// The values joined with ",", for log lines.
std::string JoinValues(const std::vector<std::string>& values);

} // namespace Modem
