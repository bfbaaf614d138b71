#include "tools/modemsim/gpiopulsewatch.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using Pulses = std::vector<int>;

void Write(const std::string& path, const std::string& value)
{
    std::ofstream(path, std::ios::trunc) << value;
}

TEST(GpioPulseWatch, CountsPulsesShorterThanItsLook)
{
    const struct {
        const char* name;
        std::vector<std::string> writes; // all done before the watch looks
        Pulses pulses;
    } cases[] = {
        {"low written at start-up", {"0"}, {}},
        {"one pulse", {"1", "0"}, {74}},
        {"low, then a pulse", {"0", "1", "0"}, {74}},
        {"two pulses", {"1", "0", "1", "0"}, {74, 74}},
        {"still pressed", {"1"}, {}},
        {"shell writes with line end", {"1\n", "0\n"}, {74}},
    };
    for (const auto& c : cases) {
        TestSupport::CTempDir dir;
        CGpioPulseWatch watch(dir.Path(), {74, 75});
        for (const auto& value : c.writes) {
            Write(CGpioPulseWatch::ValuePath(dir.Path(), 74), value);
        }
        EXPECT_EQ(watch.TakePulses(), c.pulses) << c.name;
    }
}

TEST(GpioPulseWatch, WriteInProgressIsNotReadAsALevel)
{
    TestSupport::CTempDir dir;
    CGpioPulseWatch watch(dir.Path(), {74});
    const std::string key = CGpioPulseWatch::ValuePath(dir.Path(), 74);
    Write(key, "1");
    // The next write has truncated the file but not written its level yet.
    const int fd = ::open(key.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(watch.TakePulses(), Pulses {});
    ASSERT_EQ(::write(fd, "0", 1), 1);
    ::close(fd);
    EXPECT_EQ(watch.TakePulses(), Pulses {74});
}

} // namespace
