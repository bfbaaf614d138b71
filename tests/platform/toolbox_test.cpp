#include "platform/toolbox/toolbox.h"

#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {


TEST(Toolbox, NameResolutionFailuresAreLoggedUnlessQuiet)
{
    // Name resolution: literals resolve, failures are logged unless quiet.
    EXPECT_NE(Toolbox::ResolveHost("127.0.0.1", false), 0);

    TestSupport::CLogCapture log;
    // The .invalid top-level domain never resolves.
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", false), 0);
    EXPECT_TRUE(log.ContainsSubstring("Cannot resolve host 'no-such-host.invalid'"));

    log.Clear();
    EXPECT_EQ(Toolbox::ResolveHost("no-such-host.invalid", true), 0);
    EXPECT_EQ(Toolbox::ResolveHost("", true), 0);
    EXPECT_TRUE(log.Texts(Log::error).empty());
}

} // namespace
