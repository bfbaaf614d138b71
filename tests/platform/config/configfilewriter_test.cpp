#include "platform/config/configfilewriter.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <filesystem>
#include <sstream>
#include <sys/stat.h>

namespace {

Json::Value Parse(const std::string& text)
{
    Json::Value root;
    std::istringstream in(text);
    in >> root;
    return root;
}

TEST(ConfigFileWriterTest, ReplacesFileKeepingItsModeAndLeavesNoTemporaryFile)
{
    TestSupport::CTempDir dir;
    dir.WriteFile("secrets.json", "{\"old\": true}");
    const std::string path = dir.Path() + "/secrets.json";
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    Json::Value object(Json::objectValue);
    object["Pass"] = "p\"w\nd";
    object["Flag"] = false;
    ASSERT_TRUE(CConfigFileWriter::Write(path, object));

    EXPECT_EQ(Parse(dir.ReadFile("secrets.json")), object);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);

    // A new file gets the default mode.
    ASSERT_TRUE(CConfigFileWriter::Write(dir.Path() + "/new.json", object));
    ASSERT_EQ(::stat((dir.Path() + "/new.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, CConfigFileWriter::kNewFileMode);
}

TEST(ConfigFileWriterTest, RefusesNonObjectsAndMissingDirectories)
{
    TestSupport::CTempDir dir;
    dir.WriteFile("settings.json", "{\"keep\": true}");
    EXPECT_FALSE(CConfigFileWriter::Write(dir.Path() + "/settings.json", Json::Value("text")));
    EXPECT_FALSE(CConfigFileWriter::Write(dir.Path() + "/settings.json", Json::Value(Json::arrayValue)));
    EXPECT_EQ(dir.ReadFile("settings.json"), "{\"keep\": true}");
    EXPECT_FALSE(CConfigFileWriter::Write(dir.Path() + "/missing/settings.json", Json::Value(Json::objectValue)));
}

} // namespace
