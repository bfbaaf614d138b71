#include "tools/tarvctl/tarvctl.h"
#include "tools/tarvctl/tarvctlformat.h"

#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using testing::HasSubstr;

// A root whose IPC configuration names sockets nobody listens on.
class TarvCtl : public testing::Test {
protected:
    TarvCtl()
    {
        mDir.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock",
            "Tarv": "unix:/run/iipc/tarv.sock", "TarvLog": "unix:/run/iipc/tarvlog.sock"})");
        std::filesystem::create_directories(mDir.Path() + "/etc/config");
    }

    int Run(std::vector<std::string> arguments, const std::string& input = "")
    {
        mOut.str("");
        mErr.str("");
        std::istringstream in(input);
        arguments.insert(arguments.begin(), {"--root", mDir.Root()});
        return CTarvCtl(mOut, mErr, in).Run(arguments);
    }
    std::string File(const std::string& source) { return mDir.ReadFile("etc/config/" + source + ".json"); }

    TestSupport::CTempDir mDir;
    std::ostringstream mOut;
    std::ostringstream mErr;
};

TEST_F(TarvCtl, CommandLineFollowsTheDocumentedConventions)
{
    struct SCase {
        std::vector<std::string> arguments;
        int exitCode;
        const char* out;    // expected in standard output ("" for none)
        const char* error;  // expected in the one line on standard error ("" for none)
    };
    const std::vector<SCase> cases{
        {{"--help"}, 0, "usage: tarvctl", ""},
        {{"-h"}, 0, "  config get SOURCE KEY", ""},
        {{"help"}, 0, "  8  the daemon is not running", ""},
        {{"--version"}, 0, "tarvctl ", ""},
        {{"frobnicate"}, 2, "", "unknown verb 'frobnicate'"},
        {{"--bogus", "state"}, 2, "", "unknown option '--bogus'"},
        {{"--timeout", "0", "state"}, 2, "", "--timeout takes whole seconds"},
        {{"state", "extra"}, 2, "", "usage: tarvctl state"},
        {{"notify", "eth1"}, 2, "", "unknown interface 'eth1'"},
        {{"log-level", "loud"}, 8, "", "tarv is not running"},
        {{"state"}, 8, "", "tarvgenctrl.sock is not reachable"},
        {{"--json", "enable"}, 8, "", "tarv is not running"},
        {{"--timeout=5", "status"}, 8, "", "tarv is not running"},
        {{"config", "get", "secrets", "WlanStaPassword"}, 2, "", "add --show-secrets"},
        {{"config", "get", "network", "NoSuchKey"}, 1, "", "no key 'NoSuchKey' in network"},
        {{"config", "set", "hwinfo", "HwHasLte", "true"}, 1, "", "hwinfo is read-only"},
        {{"config", "set", "network", "TarvWlanEnable", "1"}, 1, "", "TarvWlanEnable takes true or false"},
        {{"config", "list", "nosuch"}, 1, "", "unknown configuration source 'nosuch'"},
    };
    for (const SCase& c : cases) {
        const std::string what = testing::PrintToString(c.arguments);
        EXPECT_EQ(Run(c.arguments), c.exitCode) << what << mErr.str();
        EXPECT_THAT(mOut.str(), HasSubstr(c.out)) << what;
        if (*c.error) {
            EXPECT_THAT(mErr.str(), testing::MatchesRegex("tarvctl: [^\n]*\n")) << what;
            EXPECT_THAT(mErr.str(), HasSubstr(c.error)) << what;
        } else {
            EXPECT_EQ(mErr.str(), "") << what;
        }
    }
    // Without a verb the help goes to standard error: a usage error.
    EXPECT_EQ(Run({}), 2);
    EXPECT_THAT(mErr.str(), HasSubstr("  status "));
}

TEST_F(TarvCtl, ConfigSetChangesOnlyItsKeyInAFileTheDaemonWouldRead)
{
    struct SCase {
        const char* before; // nullptr: no file
        std::vector<std::string> set;
        int exitCode;
        const char* after;  // nullptr: unchanged
    };
    const std::vector<SCase> cases{
        // Escapes, spacing and unknown keys stay exactly as they were.
        {"{ \"X\": \"caf\\u00e9\",  \"TarvWlanEnable\" : false }\n", {"network", "TarvWlanEnable", "true"}, 0,
         "{ \"X\": \"caf\\u00e9\",  \"TarvWlanEnable\" : true }\n"},
        {"{\"X\": 1.50}", {"network", "TarvSsid", "new \"net\""}, 0,
         "{\"X\": 1.50,\n  \"TarvSsid\": \"new \\\"net\\\"\"}"},
        {"{}\n", {"network", "TarvWlanEnable", "true"}, 0, "{\n  \"TarvWlanEnable\": true\n}\n"},
        {nullptr, {"network", "TarvWlanEnable", "false"}, 0, "{\n  \"TarvWlanEnable\": false\n}\n"},
        // What the daemon refuses is refused, and the file is left alone.
        {"{\"TarvWlanEnable\": true,\n", {"network", "TarvWlanEnable", "false"}, 1, nullptr},
        {"{\"A\": 1, \"A\": 2}", {"network", "TarvWlanEnable", "false"}, 1, nullptr},
        {"[1]", {"network", "TarvWlanEnable", "false"}, 1, nullptr},
        {"{} // note", {"network", "TarvWlanEnable", "false"}, 1, nullptr},
        {"{\"TarvSsid\": \"a\"}", {"network", "TarvSsid", "\xff\xfe"}, 1, nullptr},
    };
    for (const SCase& c : cases) {
        std::filesystem::remove(mDir.Path() + "/etc/config/network.json");
        if (c.before) {
            mDir.WriteFile("etc/config/network.json", c.before);
        }
        std::vector<std::string> arguments{"config", "set"};
        arguments.insert(arguments.end(), c.set.begin(), c.set.end());
        EXPECT_EQ(Run(arguments), c.exitCode) << c.set[2] << ": " << mErr.str();
        EXPECT_EQ(File("network"), c.after ? c.after : c.before) << (c.before ? c.before : "(no file)");
    }
    mDir.WriteFile("etc/config/network.json", "{\"TarvWlanEnable\": true,\n");
    Run({"config", "set", "network", "TarvWlanEnable", "false"});
    EXPECT_THAT(mErr.str(), HasSubstr("is not valid JSON: line 2, column 1: Missing '}'")) << "a truncated file's error names the line";
    mDir.WriteFile("etc/config/network.json", std::string(5000, '[') + std::string(5000, ']'));
    EXPECT_EQ(Run({"config", "get", "network", "TarvWlanEnable"}), 1) << "nesting beyond the parser's limit";
}

TEST_F(TarvCtl, SecretsComeFromStandardInputAreOwnerOnlyAndMaskedInTheList)
{
    mDir.WriteFile("etc/config/secrets.json", "{\"TarvLteSimPin\": \"1234\"}\n");
    std::filesystem::permissions(mDir.Path() + "/etc/config/secrets.json", std::filesystem::perms(0644));
    ASSERT_EQ(Run({"config", "set", "secrets", "WlanStaPassword", "-"}, "hunter22\n"), 0) << mErr.str();
    EXPECT_EQ(File("secrets"), "{\"TarvLteSimPin\": \"1234\",\n  \"WlanStaPassword\": \"hunter22\"}\n");
    EXPECT_EQ(std::filesystem::status(mDir.Path() + "/etc/config/secrets.json").permissions(),
              std::filesystem::perms(0600));
    EXPECT_EQ(Run({"--show-secrets", "config", "get", "secrets", "WlanStaPassword"}), 0);
    EXPECT_EQ(mOut.str(), "hunter22\n");

    ASSERT_EQ(Run({"config", "list", "secrets"}), 0) << mErr.str();
    EXPECT_THAT(mOut.str(), testing::Not(HasSubstr("hunter22")));
    EXPECT_THAT(mOut.str(), HasSubstr("secrets\tWlanStaPassword\tstring\t"));
    ASSERT_EQ(Run({"--json", "config", "list"}), 0) << mErr.str();
    EXPECT_THAT(mOut.str(), HasSubstr(R"("key":"WlanStaPassword","secret":true,"source":"secrets","type":"string","value":"********")"));
    EXPECT_THAT(mOut.str(), HasSubstr(R"("key":"TarvWlanEnable","secret":false,"source":"network","type":"boolean","value":null)"));
    EXPECT_THAT(mOut.str(), testing::Not(HasSubstr("hunter22")));
}

TEST_F(TarvCtl, ReportWithTheDaemonStoppedSaysWhatItCouldNotAsk)
{
    mDir.WriteFile("etc/hostname", "station-1\n");
    mDir.WriteFile("etc/config/secrets.json", "{\"WlanStaPassword\": \"hunter22\"}");
    ASSERT_EQ(Run({"--json", "report"}), 0) << mErr.str();
    EXPECT_THAT(mOut.str(), HasSubstr(R"("notAsked":"tarv: tarv is not running)"));
    EXPECT_THAT(mOut.str(), HasSubstr(R"("hostname":["station-1"])"));
    EXPECT_THAT(mOut.str(), HasSubstr(R"("WlanStaPassword":"********")"));
    EXPECT_THAT(mOut.str(), testing::Not(HasSubstr("hunter22")));
}

TEST(TarvCtlFormat, StatusesUseKernelNamesAndSayNotSetForPlaceholders)
{
    ipc::MNetStatus status;
    status.set_interface(ipc::ELte0);
    status.set_connectionstate(ipc::MNetStatus::EDisconnected);
    status.mutable_properties()->set_ipaddress("0.0.0.0");
    status.mutable_properties()->set_subnetmask("");
    status.mutable_properties()->set_defaultgateway("10.0.0.1");
    status.mutable_dns();
    status.set_signalstrength(-1000);
    status.mutable_lteinfo()->set_technology("LTE");
    EXPECT_EQ(CTarvCtlFormat::StatusLine(status),
              "lte0 disconnected ip not set mask not set gateway 10.0.0.1 dns not set signal not set carrier not set "
              "technology LTE");
    EXPECT_EQ(CTarvCtlFormat::OneLine(CTarvCtlFormat::StatusJson(status)),
              R"({"carrier":null,"connection":"disconnected","dns":[],"gateway":"10.0.0.1","iccid":null,"imei":null,)"
              R"("imsi":null,"interface":"lte0","ip":null,"netmask":null,"signal":null,"technology":"LTE"})");
    status.set_signalstrength(-71);
    status.set_interface(ipc::EEth0);
    EXPECT_THAT(CTarvCtlFormat::StatusLine(status), testing::StartsWith("eth0 disconnected"));
    EXPECT_THAT(CTarvCtlFormat::StatusLine(status), HasSubstr(" signal -71 "));
}

} // namespace
