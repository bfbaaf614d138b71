#include "src/components/ltemodem/modemanswers.h"

#include "src/components/ltemodem/atresponseparser.h"
#include "src/components/ltemodem/modemcommands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

namespace Cmd = Modem::Commands;
using Lines = std::vector<std::string>;

// The values the AT channel hands over for the command's answer line (none
// for an answer without one).
Lines Values(const AtCommand& command, const std::string& line)
{
    return line.empty() ? Lines {} : CAtResponseParser::Parse(line + "\n", command.expected).value_or(Lines {});
}

// The data context as "active|inactive <type> <address>".
std::optional<std::string> Context(const Lines& values)
{
    const auto c = Modem::ParseQiact(values);
    return c ? std::optional<std::string>((c->active ? "active " : "inactive ") + c->type + " " + c->ipAddress)
             : std::nullopt;
}

template <typename T>
struct SCase {
    std::optional<T> (*decode)(const Lines&);
    const AtCommand* command;
    const char* line;
    std::optional<T> expected;
};

template <typename T>
void Check(const std::vector<SCase<T>>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.decode(Values(*c.command, c.line)), c.expected);
    }
}

TEST(ModemAnswersTest, Flags)
{
    Check<bool>({
        {Modem::ParseUsbnetEcm, &Cmd::kUsbNetQuery, "+QCFGEXT: \"usbnet\",\"ecm\"", true},
        {Modem::ParseUsbnetEcm, &Cmd::kUsbNetQuery, "+QCFGEXT: \"usbnet\",\"rmnet\"", false},
        {Modem::ParseUsbnetEcm, &Cmd::kUsbNetQuery, "+QCFGEXT: \"other\"", std::nullopt},
        {Modem::ParseSimEffect, &Cmd::kSimEffectQuery, "+QCFG: \"simeffect\",1", true},
        {Modem::ParseSimEffect, &Cmd::kSimEffectQuery, "+QCFG: \"simeffect\",0", false},
        {Modem::ParseSimEffect, &Cmd::kSimEffectQuery, "+QCFG: \"simeffect\"", std::nullopt},
        {Modem::ParseQsimstat, &Cmd::kSimStatus, "+QSIMSTAT: 0,1", true},
        {Modem::ParseQsimstat, &Cmd::kSimStatus, "+QSIMSTAT: 1,0", false},
        {Modem::ParseQsimstat, &Cmd::kSimStatus, "+QSIMSTAT: 0", std::nullopt},
        {Modem::ParseCmgfText, &Cmd::kSmsFormatQuery, "+CMGF: 1", true},
        {Modem::ParseCmgfText, &Cmd::kSmsFormatQuery, "+CMGF: 0", false},
        {Modem::ParseRoaming, &Cmd::kRoamingRead, "<WAN Roaming=1>", true},
        {Modem::ParseRoaming, &Cmd::kRoamingRead, "<WAN Roaming=0>", false},
    });
}

TEST(ModemAnswersTest, Texts)
{
    Check<std::string>({
        {Modem::ParseScanSeq, &Cmd::kScanSeqQuery, "+QCFG: \"nwscanseq\",020103", "020103"},
        {Modem::ParseScanSeq, &Cmd::kScanSeqQuery, "+QCFG: \"nwscanseq\",02,1", std::nullopt},
        {Modem::ParseIotOpMode, &Cmd::kIotModeQuery, "+QCFG: \"iotopmode\",2,1", "2"},
        {Modem::ParseIotOpMode, &Cmd::kIotModeQuery, "+QCFG: \"iotopmode\"", std::nullopt},
        {Modem::ParseCpin, &Cmd::kPinStatus, "+CPIN: SIM PIN", "SIMPIN"},
        {Modem::ParseCpin, &Cmd::kPinStatus, "+CPINX", std::nullopt},
        {Modem::ParseIdentity, &Cmd::kImsi, "262011234567890", "262011234567890"},
        {Modem::ParseCops, &Cmd::kOperator, "+COPS: 0,0,\"Carrier One\",8", "CarrierOne"},
        {Modem::ParseCops, &Cmd::kOperator, "+COPS: 0", std::nullopt},
        {Context, &Cmd::kPdpQuery, "+QIACT: 1,1,1,\"10.1.2.3\"", "active IPv4 10.1.2.3"},
        {Context, &Cmd::kPdpQuery, "+QIACT: 1,0,2,\"fe80::1\"", "inactive IPv6 fe80::1"},
        {Context, &Cmd::kPdpQuery, "", "inactive  "},
        {Context, &Cmd::kPdpQuery, "+QIACT: 1,1", std::nullopt},
    });
}

TEST(ModemAnswersTest, RegistrationStates)
{
    using Modem::ERegistrationState;
    const auto lte = [](const Lines& values) { return Modem::ParseRegistration(values, "LTE"); };
    Check<ERegistrationState>({
        {lte, &Cmd::kLteRegistration, "+CEREG: 0,1", ERegistrationState::RegisteredHome},
        {lte, &Cmd::kLteRegistration, "+CEREG: 2,5,\"1A2B\",\"01A2B3C4\",8", ERegistrationState::RegisteredRoaming},
        {lte, &Cmd::kLteRegistration, "+CEREG: 0,6", std::nullopt},
        {lte, &Cmd::kLteRegistration, "+CEREG: 0,10", std::nullopt},
        {lte, &Cmd::kLteRegistration, "+CEREG: 0", std::nullopt},
        {lte, &Cmd::kEgprsRegistration, "+CGREG: 0,3", ERegistrationState::Denied},
    });
}

TEST(ModemAnswersTest, ListsAndNumbers)
{
    Check<Lines>({
        {Modem::ParseBands, &Cmd::kBandQuery, "+QCFG: \"band\",0x3,0x8080085,0x8080085",
         Lines {"0x3", "0x8080085", "0x8080085"}},
        {Modem::ParseBands, &Cmd::kBandQuery, "+QCFG: \"band\",0x3,0x8080085", std::nullopt},
        {Modem::ParseQidnscfg, &Cmd::kDnsQuery, "+QIDNSCFG: 1,\"10.0.0.53\",\"10.0.0.54\"",
         Lines {"10.0.0.53", "10.0.0.54"}},
        {Modem::ParseQidnscfg, &Cmd::kDnsQuery, "+QIDNSCFG: 1,\"10.0.0.53\"", std::nullopt},
    });
    Check<std::int32_t>({
        {Modem::ParseQpinc, &Cmd::kPinAttempts, "+QPINC: \"SC\",3,10", 3},
        {Modem::ParseQpinc, &Cmd::kPinAttempts, "+QPINC: \"SC\",three,10", std::nullopt},
        {Modem::ParseQpinc, &Cmd::kPinAttempts, "+QPINC: \"SC\"", std::nullopt},
    });
}

} // namespace
