#include "tests/support/tempdir.h"
#include "tools/boardcontrolsim/boardcontrolsim.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

int CountLines(const std::string& text, const std::string& ending)
{
    int count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        count += line.size() >= ending.size() && line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
    }
    return count;
}

TEST(BoardControlSim, EveryRebootRequestIsRecordedAndOneThatCannotBeIsRefused)
{
    TestSupport::CTempDir dir;
    std::ostringstream console;
    CBoardControlSim controller(dir.Path() + "/reboots.txt", console);
    EXPECT_TRUE(controller.RebootRequest());
    EXPECT_TRUE(controller.RebootRequest());
    EXPECT_EQ(CountLines(dir.ReadFile("reboots.txt"), "Z reboot requested"), 2);

    CBoardControlSim unrecorded(dir.Path() + "/missing/reboots.txt", console);
    EXPECT_FALSE(unrecorded.RebootRequest());
    EXPECT_EQ(CountLines(console.str(), "refused"), 1);
}

TEST(BoardControlSim, MainsLostGoesToTheInstalledSenderAndIsSafeWithoutOne)
{
    std::ostringstream console;
    CBoardControlSim controller("/nonexistent/reboots.txt", console);
    controller.SendMainsLost(); // not served yet: no sender
    int sent = 0;
    controller.mMainsLostSender = [&sent] { ++sent; };
    controller.SendMainsLost();
    EXPECT_EQ(sent, 1);
}

} // namespace
