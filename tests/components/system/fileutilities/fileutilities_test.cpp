#include "src/components/system/tarvfileutilities.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;
using TestSupport::CLogCapture;
using TestSupport::CTempDir;


TEST(ReplaceInFile, ReplacesEveryOccurrenceWithoutSearchingInsertedText)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/hostapd.conf";
    tmp.WriteFile("hostapd.conf", "ssid=NAME\nname=NAME-NAME\n");
    ASSERT_TRUE(ReplaceInFile(path, "NAME", "station"));
    EXPECT_EQ(tmp.ReadFile("hostapd.conf"), "ssid=station\nname=station-station\n");

    // The value contains the placeholder: the edit ends, the value appears once.
    tmp.WriteFile("hostapd.conf", "ssid=NAME\n");
    ASSERT_TRUE(ReplaceInFile(path, "NAME", "NAMENAME"));
    EXPECT_EQ(tmp.ReadFile("hostapd.conf"), "ssid=NAMENAME\n");

    // Overlapping candidates are replaced left to right.
    tmp.WriteFile("hostapd.conf", "aaa");
    ASSERT_TRUE(ReplaceInFile(path, "aa", "b"));
    EXPECT_EQ(tmp.ReadFile("hostapd.conf"), "ba");

    // No placeholder, or an empty one: the file is written back unchanged.
    ASSERT_TRUE(ReplaceInFile(path, "zz", "y"));
    ASSERT_TRUE(ReplaceInFile(path, "", "y"));
    EXPECT_EQ(tmp.ReadFile("hostapd.conf"), "ba");
}

TEST(ReplaceInFile, AcceptsExactly70000BytesAndRefusesOneMore)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/dnsmasq.conf";
    tmp.WriteFile("dnsmasq.conf", "X" + std::string(69999, '.'));
    ASSERT_TRUE(ReplaceInFile(path, "X", "Y"));
    EXPECT_EQ(tmp.ReadFile("dnsmasq.conf"), "Y" + std::string(69999, '.'));

    tmp.WriteFile("dnsmasq.conf", "X" + std::string(70000, '.'));
    CLogCapture log;
    EXPECT_FALSE(ReplaceInFile(path, "X", "Y"));
    EXPECT_TRUE(log.Contains(Log::error, "Failed to open " + path +
                                             ", the file is too large (70001 bytes). Expected 70000 bytes or less."));
    EXPECT_EQ(tmp.ReadFile("dnsmasq.conf").front(), 'X');
}

TEST(ReplaceInFile, MissingOrUnreadableFileIsReported)
{
    CTempDir tmp;
    CLogCapture log;
    EXPECT_FALSE(ReplaceInFile(tmp.Path() + "/missing", "a", "b"));
    EXPECT_TRUE(log.Contains(Log::error, "Cannot open " + tmp.Path() +
                                             "/missing, it doesn't exist or Tarv doesn't have read permission."));
    EXPECT_FALSE(fs::exists(tmp.Path() + "/missing"));
    EXPECT_FALSE(ReplaceInFile(tmp.Path(), "a", "b"));
    EXPECT_TRUE(log.Contains(Log::error, "Failed to open " + tmp.Path() + " for reading."));
}

TEST(WriteToFile, NewFilesForSecretsAreOwnerOnly)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/wpa_supplicant.conf";
    ASSERT_TRUE(WriteToFile(path, "psk=\"secret\"\n", CAtomicFile::kSecretFileMode));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}
