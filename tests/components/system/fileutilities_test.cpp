#include "src/components/system/tarvfileutilities.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

using TestSupport::CTempDir;

TEST(ReplaceInFile, ReplacesEveryOccurrenceWithoutSearchingInsertedText)
{
    const std::vector<std::array<std::string, 4>> cases = { // before, placeholder, value, after
        {"ssid=NAME\nname=NAME-NAME\n", "NAME", "station", "ssid=station\nname=station-station\n"},
        // The value contains the placeholder: the edit ends, the value appears once.
        {"ssid=NAME\n", "NAME", "NAMENAME", "ssid=NAMENAME\n"},
        {"aaa", "aa", "b", "ba"}, // overlapping candidates, left to right
        {"ba", "", "y", "ba"},
        {"X" + std::string(69999, '.'), "X", "Y", "Y" + std::string(69999, '.')}, // the largest file edited
    };
    CTempDir tmp;
    for (const auto& [before, placeholder, value, after] : cases) {
        SCOPED_TRACE(before.substr(0, 20));
        tmp.WriteFile("hostapd.conf", before);
        ASSERT_TRUE(ReplaceInFile(tmp.Path() + "/hostapd.conf", placeholder, value));
        EXPECT_EQ(tmp.ReadFile("hostapd.conf"), after);
    }
}

TEST(ReplaceInFile, RefusesTooLargeMissingAndUnreadableFiles)
{
    CTempDir tmp;
    tmp.WriteFile("dnsmasq.conf", "X" + std::string(70000, '.'));
    EXPECT_FALSE(ReplaceInFile(tmp.Path() + "/dnsmasq.conf", "X", "Y"));
    EXPECT_EQ(tmp.ReadFile("dnsmasq.conf").front(), 'X');
    EXPECT_FALSE(ReplaceInFile(tmp.Path() + "/missing", "a", "b"));
    EXPECT_FALSE(std::filesystem::exists(tmp.Path() + "/missing"));
    EXPECT_FALSE(ReplaceInFile(tmp.Path(), "a", "b"));
}
