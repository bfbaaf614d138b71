#include "src/components/ltemodem/modemanswers.h"

#include "src/components/ltemodem/atresponseparser.h"
#include "src/components/ltemodem/modemcommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace Cmd = Modem::Commands;
using Lines = std::vector<std::string>;
using Modem::ERegistrationState;

// Each answer line of the command, decoded from the values the AT channel
// hands over for it (none for an answer without a line).
template <typename T>
void Check(std::optional<T> (*decode)(const Lines&), const AtCommand& command,
           const std::vector<std::pair<std::string, std::optional<T>>>& cases)
{
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        const auto values = line.empty() ? Lines {} : CAtResponseParser::Parse(line + "\n", command.expected);
        EXPECT_EQ(decode(values.value_or(Lines {})), expected);
    }
}

// The data context as "active|inactive <type> <address>".
std::optional<std::string> Context(const Lines& values)
{
    const auto c = Modem::ParseQiact(values);
    return c ? std::optional<std::string>((c->active ? "active " : "inactive ") + c->type + " " + c->ipAddress)
             : std::nullopt;
}

TEST(ModemAnswersTest, Flags)
{
    Check(Modem::ParseUsbnetEcm, Cmd::kUsbNetQuery,
          {{"+QCFGEXT: \"usbnet\",\"ecm\"", true}, {"+QCFGEXT: \"usbnet\",\"rmnet\"", false}, {"", std::nullopt}});
    Check(Modem::ParseSimEffect, Cmd::kSimEffectQuery,
          {{"+QCFG: \"simeffect\",1", true}, {"+QCFG: \"simeffect\",0", false},
           {"+QCFG: \"simeffect\"", std::nullopt}});
    Check(Modem::ParseQsimstat, Cmd::kSimStatus,
          {{"+QSIMSTAT: 0,1", true}, {"+QSIMSTAT: 1,0", false}, {"+QSIMSTAT: 0", std::nullopt}});
    Check(Modem::ParseCmgfText, Cmd::kSmsFormatQuery, {{"+CMGF: 1", true}, {"+CMGF: 0", false}, {"", std::nullopt}});
    Check(Modem::ParseRoaming, Cmd::kRoamingRead, {{"<WAN Roaming=1>", true}, {"<WAN Roaming=0>", false}});
}

TEST(ModemAnswersTest, Texts)
{
    Check(Modem::ParseScanSeq, Cmd::kScanSeqQuery,
          {{"+QCFG: \"nwscanseq\",020103", "020103"}, {"+QCFG: \"nwscanseq\",02,1", std::nullopt}});
    Check(Modem::ParseIotOpMode, Cmd::kIotModeQuery,
          {{"+QCFG: \"iotopmode\",2,1", "2"}, {"+QCFG: \"iotopmode\"", std::nullopt}});
    Check(Modem::ParseCpin, Cmd::kPinStatus, {{"+CPIN: SIM PIN", "SIMPIN"}, {"+CPINX", std::nullopt}});
    Check(Modem::ParseIdentity, Cmd::kImsi, {{"262011234567890", "262011234567890"}, {"", std::nullopt}});
    Check(Modem::ParseCops, Cmd::kOperator,
          {{"+COPS: 0,0,\"Carrier One\",8", "CarrierOne"}, {"+COPS: 0", std::nullopt}});
    Check(Context, Cmd::kPdpQuery,
          {{"+QIACT: 1,1,1,\"10.1.2.3\"", "active IPv4 10.1.2.3"},
           {"+QIACT: 1,0,2,\"fe80::1\"", "inactive IPv6 fe80::1"},
           {"", "inactive  "},
           {"+QIACT: 1,1", std::nullopt}});
}

TEST(ModemAnswersTest, ListsAndNumbers)
{
    Check(Modem::ParseBands, Cmd::kBandQuery,
          {{"+QCFG: \"band\",0x3,0x8080085,0x8080085", Lines {"0x3", "0x8080085", "0x8080085"}},
           {"+QCFG: \"band\",0x3,0x8080085", std::nullopt}});
    Check(Modem::ParseQidnscfg, Cmd::kDnsQuery,
          {{"+QIDNSCFG: 1,\"10.0.0.53\",\"10.0.0.54\"", Lines {"10.0.0.53", "10.0.0.54"}},
           {"+QIDNSCFG: 1,\"10.0.0.53\"", std::nullopt}});
    Check(Modem::ParseQpinc, Cmd::kPinAttempts,
          {{"+QPINC: \"SC\",3,10", 3}, {"+QPINC: \"SC\",three,10", std::nullopt}, {"+QPINC: \"SC\"", std::nullopt}});
}

TEST(ModemAnswersTest, RegistrationStates)
{
    const auto decode = +[](const Lines& values) { return Modem::ParseRegistration(values, "LTE"); };
    Check(decode, Cmd::kLteRegistration,
          {{"+CEREG: 0,1", ERegistrationState::RegisteredHome},
           {"+CEREG: 2,5,\"1A2B\",\"01A2B3C4\",8", ERegistrationState::RegisteredRoaming},
           {"+CEREG: 0,6", std::nullopt}, {"+CEREG: 0,10", std::nullopt}, {"+CEREG: 0", std::nullopt}});
    Check(decode, Cmd::kEgprsRegistration, {{"+CGREG: 0,3", ERegistrationState::Denied}});
}

} // namespace
