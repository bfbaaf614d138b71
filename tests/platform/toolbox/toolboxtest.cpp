#include "platform/toolbox/toolbox.h"

#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TestSupport::CLogCapture;
using namespace std::string_literals;

TEST(Toolbox, WlanSsidAndPasswordAndNameResolution)
{
    struct SCase {
        std::string value;
        bool ssid, password;
    };
    const std::vector<SCase> cases = {
        {"S", true, false}, {std::string(32, 'x'), true, true},
        {"My \"home\" net; $(x)", true, true}, // any other byte is allowed in both
        {"Caf\xc3\xa9 \xe2\x98\x95", true, false}, {std::string(31, 'x') + "\xc3\xa9", false, false}, // 33 bytes
        {"", false, false}, {"ab\0cd"s, false, false}, {"line\nnext", false, false}, {"line\r", false, false},
        {"12345678", true, true}, {"1234567", true, false}, {std::string(63, '~'), false, true},
        {std::string(64, 'a'), false, true}, {std::string(63, 'a') + "g", false, false}, // a raw key is hex
        {std::string(65, 'a'), false, false}, {"pass\tword", true, false}, {"pass\0word"s, false, false},
        {"passw\xc3\xb6rd", true, false}, {"password\x7f", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Toolbox::ValidateWlanSsid(c.value), c.ssid);
        EXPECT_EQ(Toolbox::ValidateWlanPassword(c.value), c.password);
    }

    // Name resolution: literals resolve, failures are logged unless quiet.
    EXPECT_NE(Toolbox::ResolveHost("127.0.0.1", false), 0);

    CLogCapture log;
    // The .invalid top-level domain never resolves.
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", false), 0);
    EXPECT_TRUE(log.ContainsSubstring("Cannot resolve host 'no-such-host.invalid'"));

    log.Clear();
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", true), 0);
    EXPECT_EQ(Toolbox::ResolveHost("", true), 0);
    EXPECT_TRUE(log.Texts(Log::error).empty());
}

} // namespace
