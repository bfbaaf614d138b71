#include "platform/sysfs/sysfsaccess.h"
#include "platform/sysfs/sysfsgpio.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {


class SysfsTest : public ::testing::Test {
protected:
    void SetUp() override { mRoot.WriteFile("sys/class/gpio/export", ""); }

    // An exported line as the kernel shows it.
    void CreateLine(int gpio) const
    {
        const std::string dir = "sys/class/gpio/gpio" + std::to_string(gpio) + "/";
        mRoot.WriteFile(dir + "direction", "in\n");
        mRoot.WriteFile(dir + "value", "0\n");
    }
    std::string File(const std::string& relative) const { return mRoot.ReadFile(relative); }
    std::string Path(const std::string& relative) const { return mRoot.Path() + "/" + relative; }

    TestSupport::CTempRoot mRoot;
    std::shared_ptr<CSysfsAccess> mAccess = std::make_shared<CSysfsAccess>();
};

TEST_F(SysfsTest, AccessLogsFailuresWithPathAndReason)
{
    // Reads and writes that succeed are those of the GPIO cases below.
    TestSupport::CLogCapture log;
    // A missing attribute is never created.
    EXPECT_FALSE(mAccess->Write("/sys/class/gpio/unexport", "74"));
    EXPECT_FALSE(std::filesystem::exists(Path("sys/class/gpio/unexport")));
    EXPECT_TRUE(log.Contains(Log::error, "Cannot open " + Path("sys/class/gpio/unexport") +
                                             " for writing: No such file or directory"));

    EXPECT_EQ(mAccess->Read("/sys/missing"), std::nullopt);
    EXPECT_TRUE(log.Contains(Log::error, "Cannot open " + Path("sys/missing") +
                                             " for reading: No such file or directory"));

    // A directory where a file belongs cannot be read or written (unlike
    // permissions, this holds for root too).
    std::filesystem::create_directories(Path("sys/dir"));
    EXPECT_EQ(mAccess->Read("/sys/dir"), std::nullopt);
    EXPECT_TRUE(log.Contains(Log::error, "Cannot read " + Path("sys/dir") + ": Is a directory"));
    EXPECT_FALSE(mAccess->Write("/sys/dir", "1"));

    // The device refuses the value.
    std::filesystem::create_symlink("/dev/full", Path("sys/full"));
    EXPECT_FALSE(mAccess->Write("/sys/full", "1"));
    EXPECT_TRUE(log.Contains(Log::error, "Cannot write '1' to " + Path("sys/full") + ": No space left on device"));

    // Runaway content is refused rather than read without end.
    std::filesystem::create_symlink("/dev/zero", Path("sys/zero"));
    EXPECT_EQ(mAccess->Read("/sys/zero"), std::nullopt);
}

// Export writes the number only when the line is missing.
TEST_F(SysfsTest, GpioExportWritesTheNumberOnlyForAMissingLine)
{
    ASSERT_TRUE(CSysfsGpio(74, mAccess).Export()); // the modem's power key
    EXPECT_EQ(File("sys/class/gpio/export"), "74");
    // Setting the direction exports a missing line first. Without a kernel
    // behind the files the line does not appear, so the direction write fails.
    EXPECT_FALSE(CSysfsGpio(73, mAccess).SetDirection(1));
    EXPECT_EQ(File("sys/class/gpio/export"), "73");

    mRoot.WriteFile("sys/class/gpio/export", "untouched");
    CreateLine(75);
    ASSERT_TRUE(CSysfsGpio(75, mAccess).Export());
    EXPECT_EQ(File("sys/class/gpio/export"), "untouched");

    std::filesystem::remove(Path("sys/class/gpio/export"));
    EXPECT_FALSE(CSysfsGpio(12, mAccess).Export());
}

TEST_F(SysfsTest, GpioLineRefusesInvalidArguments)
{
    CreateLine(74);
    CSysfsGpio line(74, mAccess);
    mRoot.WriteFile("sys/class/gpio/gpio74/value", "1\n"); // as the kernel writes it
    EXPECT_FALSE(line.SetDirection(2));
    EXPECT_EQ(File("sys/class/gpio/gpio74/direction"), "in\n");
    EXPECT_FALSE(line.SetValue(2));
    EXPECT_EQ(File("sys/class/gpio/gpio74/value"), "1\n");

    std::filesystem::remove(Path("sys/class/gpio/gpio74/value"));
    EXPECT_FALSE(line.SetValue(1));
}

} // namespace
