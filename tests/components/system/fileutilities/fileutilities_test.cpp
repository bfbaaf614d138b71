#include "src/components/system/tarvfileutilities.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using TestSupport::CLogCapture;
using TestSupport::CTempDir;

namespace {

// Names in the directory, to catch temporary files left behind.
std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned Mode(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

// Runs body in a child process as an unprivileged user (access checks apply
// to root only partly) and returns its exit status; body returns the status.
int RunAsNobody(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

} // namespace

TEST(WriteToFile, CreatesAndReplacesWholeFileLeavingNoTemporaryFiles)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/interfaces";
    ASSERT_TRUE(WriteToFile(path, "first version, rather long\n"));
    EXPECT_EQ(tmp.ReadFile("interfaces"), "first version, rather long\n");
    ASSERT_TRUE(WriteToFile(path, "short\n"));
    EXPECT_EQ(tmp.ReadFile("interfaces"), "short\n");
    ASSERT_TRUE(WriteToFile(path, ""));
    EXPECT_EQ(tmp.ReadFile("interfaces"), "");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"interfaces"});
}

TEST(WriteToFile, KeepsThePermissionBitsOfAnExistingFile)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/wpa_supplicant.conf";
    tmp.WriteFile("wpa_supplicant.conf", "old");
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(WriteToFile(path, "new"));
    EXPECT_EQ(Mode(path), 0600u);
    ::chmod(path.c_str(), 0754);
    ASSERT_TRUE(WriteToFile(path, "newer"));
    EXPECT_EQ(Mode(path), 0754u);
    EXPECT_EQ(tmp.ReadFile("wpa_supplicant.conf"), "newer");
}

TEST(WriteToFile, ReplacesTheTargetOfASymbolicLinkAndKeepsTheLink)
{
    CTempDir tmp;
    tmp.WriteFile("data/hosts", "127.0.0.1 localhost\n");
    fs::create_directories(tmp.Path() + "/etc");
    // A relative link, and a link to that link.
    fs::create_symlink("../data/hosts", tmp.Path() + "/etc/hosts");
    fs::create_symlink(tmp.Path() + "/etc/hosts", tmp.Path() + "/hosts-alias");

    ASSERT_TRUE(WriteToFile(tmp.Path() + "/hosts-alias", "new hosts\n"));
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/hosts-alias"));
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/etc/hosts"));
    EXPECT_EQ(tmp.ReadFile("data/hosts"), "new hosts\n");
    EXPECT_EQ(Entries(tmp.Path() + "/data"), std::vector<std::string>{"hosts"});

    // A dangling link gets its target created.
    fs::create_symlink("missing-target", tmp.Path() + "/dangling");
    ASSERT_TRUE(WriteToFile(tmp.Path() + "/dangling", "x"));
    EXPECT_EQ(tmp.ReadFile("missing-target"), "x");
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/dangling"));
}

TEST(WriteToFile, LinkLoopAndMissingDirectoryAreReportedAsFailure)
{
    CTempDir tmp;
    fs::create_symlink("b", tmp.Path() + "/a");
    fs::create_symlink("a", tmp.Path() + "/b");
    CLogCapture log;
    EXPECT_FALSE(WriteToFile(tmp.Path() + "/a", "x"));
    EXPECT_TRUE(log.Contains(Log::error, "Failed to open " + tmp.Path() + "/a for writing."));
    EXPECT_FALSE(WriteToFile(tmp.Path() + "/no/such/dir/file", "x"));
    EXPECT_TRUE(log.Contains(Log::error, "Failed to open " + tmp.Path() +
                                             "/no/such/dir/file for writing, Tarv doesn't have write permission."));
}

TEST(WriteToFile, AFailedWriteLeavesTheOldFileIntact)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/interfaces";
    tmp.WriteFile("interfaces", "auto lo\niface lo inet loopback\n");

    // A file size limit below the new content makes the write fail half way.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool result = true;
    {
        CLogCapture log;
        result = WriteToFile(path, std::string(4096, 'x'));
        EXPECT_TRUE(log.Contains(Log::error, "Failed to write content to " + path + "."));
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(result);
    EXPECT_EQ(tmp.ReadFile("interfaces"), "auto lo\niface lo inet loopback\n");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"interfaces"});
}

TEST(WriteToFile, ReadOnlyFileIsRefusedWithThePermissionMessage)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/hostname";
    tmp.WriteFile("hostname", "old\n");
    ::chmod(tmp.Path().c_str(), 0777);
    ::chmod(path.c_str(), 0444);
    const int status = RunAsNobody([&] {
        CLogCapture log;
        const bool written = WriteToFile(path, "new\n");
        const bool logged =
            log.Contains(Log::error, "Failed to open " + path + " for writing, Tarv doesn't have write permission.");
        return (written ? 1 : 0) | (logged ? 0 : 2);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tmp.ReadFile("hostname"), "old\n");
}

TEST(WriteToFile, WritableFileInAReadOnlyDirectoryIsWrittenInPlace)
{
    CTempDir tmp;
    const std::string path = tmp.Path() + "/hostname";
    tmp.WriteFile("hostname", "a much longer old name\n");
    ::chmod(path.c_str(), 0666);
    ::chmod(tmp.Path().c_str(), 0755);
    const int status = RunAsNobody([&] { return WriteToFile(path, "new\n") ? 0 : 1; });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tmp.ReadFile("hostname"), "new\n");
}

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
