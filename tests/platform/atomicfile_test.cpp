#include "platform/toolbox/atomicfile.h"

#include "tests/support/process.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <tuple>

namespace fs = std::filesystem;
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

bool Replace(const std::string& path, const std::string& content)
{
    return CAtomicFile::Replace(path, content, CAtomicFile::kDefaultNewFileMode);
}

} // namespace

TEST(AtomicFile, ReplacesWholeFilesWithTheRightModeAndNoTemporaryFiles)
{
    // The content, the mode of the file there (-1: no file yet), the mode for
    // a new file, the mode expected.
    const std::tuple<std::string, int, mode_t, unsigned> cases[] = {
        {"first version, rather long\n", -1, CAtomicFile::kDefaultNewFileMode, 0644},
        {"psk=secret\n", -1, CAtomicFile::kSecretFileMode, 0600},
        {"", 0754, CAtomicFile::kDefaultNewFileMode, 0754},
        // A file holding a secret loses a wider mode at the write.
        {"wpa_passphrase=secret\n", 0644, CAtomicFile::kSecretFileMode, 0600},
    };
    // The mode of a new file does not depend on the umask.
    const mode_t savedUmask = ::umask(0077);
    for (const auto& [content, existingMode, newFileMode, expectedMode] : cases) {
        SCOPED_TRACE(content);
        CTempDir tmp;
        const std::string path = tmp.Path() + "/file.conf";
        if (existingMode >= 0) {
            tmp.WriteFile("file.conf", "old content that is longer than any new one\n");
            ::chmod(path.c_str(), static_cast<mode_t>(existingMode));
        }
        ASSERT_TRUE(CAtomicFile::Replace(path, content, newFileMode));
        EXPECT_EQ(tmp.ReadFile("file.conf"), content);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms(expectedMode));
        EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"file.conf"});
    }
    ::umask(savedUmask);
}

// An unprivileged writer (access checks apply to root only partly).
TEST(AtomicFile, AnUnprivilegedWriterReplacesOnlyWhatItMayWrite)
{
    CTempDir tmp;
    tmp.WriteFile("readonly", "old\n");
    tmp.WriteFile("dir/writable", "a much longer old name\n");
    ::chmod(tmp.Path().c_str(), 0777);
    ::chmod((tmp.Path() + "/readonly").c_str(), 0444);
    // A writable file in a read-only directory is written in place.
    ::chmod((tmp.Path() + "/dir/writable").c_str(), 0666);
    ::chmod((tmp.Path() + "/dir").c_str(), 0755);
    EXPECT_EQ(TestSupport::RunAsNobody([&] {
        const int written = Replace(tmp.Path() + "/readonly", "new\n") ? 1 : 0;
        return written | (Replace(tmp.Path() + "/dir/writable", "new\n") ? 0 : 2);
    }), 0);
    EXPECT_EQ(tmp.ReadFile("readonly"), "old\n");
    EXPECT_EQ(tmp.ReadFile("dir/writable"), "new\n");
}

TEST(AtomicFile, ReplacesTheTargetOfASymbolicLink)
{
    CTempDir tmp;
    tmp.WriteFile("data/hosts", "127.0.0.1 localhost\n");
    fs::create_directories(tmp.Path() + "/etc");
    // A relative link, and a link to that link.
    fs::create_symlink("../data/hosts", tmp.Path() + "/etc/hosts");
    fs::create_symlink(tmp.Path() + "/etc/hosts", tmp.Path() + "/hosts-alias");
    ASSERT_TRUE(Replace(tmp.Path() + "/hosts-alias", "new hosts\n"));
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/hosts-alias"));
    EXPECT_TRUE(fs::is_symlink(tmp.Path() + "/etc/hosts"));
    EXPECT_EQ(tmp.ReadFile("data/hosts"), "new hosts\n");
    EXPECT_EQ(Entries(tmp.Path() + "/data"), std::vector<std::string>{"hosts"});
    // A dangling link gets its target created.
    fs::create_symlink("missing-target", tmp.Path() + "/dangling");
    ASSERT_TRUE(Replace(tmp.Path() + "/dangling", "x"));
    EXPECT_EQ(tmp.ReadFile("missing-target"), "x");
}

TEST(AtomicFile, AFailedReplaceLeavesTheOldFileIntact)
{
    CTempDir tmp;
    fs::create_symlink("b", tmp.Path() + "/a");
    fs::create_symlink("a", tmp.Path() + "/b");
    tmp.WriteFile("interfaces", "auto lo\n");
    EXPECT_FALSE(Replace(tmp.Path() + "/a", "x"));
    EXPECT_FALSE(Replace(tmp.Path() + "/no/such/dir/file", "x"));

    // A file size limit below the new content makes the write fail half way.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = Replace(tmp.Path() + "/interfaces", std::string(4096, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(tmp.ReadFile("interfaces"), "auto lo\n");
    EXPECT_EQ(Entries(tmp.Path()), (std::vector<std::string>{"a", "b", "interfaces"}));
}

