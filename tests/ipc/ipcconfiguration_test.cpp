#include "platform/ipc/ipcconfiguration.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>

namespace {

using testing::AllOf;
using testing::HasSubstr;

class IpcConfiguration : public ::testing::Test {
protected:
    // The error a client raises when the file is read.
    std::string ClientError() const
    {
        return IpcTest::ErrorOf([&] { IpcTest::Host(path).CreateClient<IBoardControl>("BoardControl"); });
    }

    const TestSupport::CTempRoot root;
    const std::string path = root.Root() + "etc/iipc.json";
};

TEST_F(IpcConfiguration, SocketPathsAreResolvedUnderTheRoot)
{
    root.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarv.sock", "Other": "unix:/x.sock"})");
    const CIpcConfiguration configuration(path);
    const SIpcEndpoint& endpoint = configuration.GetEndpoint("TarvGenCtrl");
    EXPECT_EQ(endpoint.socketPath, root.Root() + "run/iipc/tarv.sock");
    EXPECT_EQ(endpoint.address, "unix:" + root.Root() + "run/iipc/tarv.sock");
    EXPECT_EQ(configuration.GetEndpoint("Other").socketPath, root.Root() + "x.sock");
    EXPECT_THROW(configuration.GetEndpoint("Tarv"), std::runtime_error);
}

TEST_F(IpcConfiguration, EveryFaultNamesTheFileAndTheProblem)
{
    const std::pair<std::optional<std::string>, std::string> cases[] = { // content (none: no file), problem
        {std::nullopt, "cannot be read"},
        {R"({"Tarv": "unix:/run/iipc/tarv.sock"})", "has no entry for 'BoardControl'"},
        {R"({"TarvGenCtrl": "unix:/a.sock",})", "is not valid JSON"},
        {R"({"A": "unix:/a.sock", "A": "unix:/b.sock"})", "is not valid JSON"},
        {R"(["unix:/a.sock"])", "must hold a JSON object"},
        {R"({"TarvGenCtrl": 5})", "entry 'TarvGenCtrl' must be a string"},
        {R"({"socketGroup": "no-such-group-here"})",
         "names the group 'no-such-group-here', which this system does not have"},
        {R"({"socketGroup": ""})", "entry 'socketGroup' must name a group"},
        {R"({"Tarv": "localhost:50051"})", "only Unix socket endpoints"},
        {R"({"Tarv": "unix:run/a.sock"})", "only Unix socket endpoints"},
        {R"({"Tarv": "unix:"})", "only Unix socket endpoints"},
        {R"({"Tarv": "unix:/)" + std::string(120, 'x') + "\"}", "is longer than"},
    };
    for (const auto& [content, problem] : cases) {
        content ? root.WriteFile("etc/iipc.json", *content) : (void)std::filesystem::remove(path);
        EXPECT_THAT(ClientError(), AllOf(HasSubstr(path), HasSubstr(problem))) << content.value_or("no file");
    }
    // What is not a file of reasonable JSON is refused at once, never waited on.
    const std::pair<std::function<void()>, std::string> others[] = {
        {[&] { root.WriteFile("etc/iipc.json", "{\"A\": " + std::string(5000, '[') + std::string(5000, ']') + "}"); },
         "is not valid JSON: Exceeded stackLimit"},
        {[&] { std::filesystem::create_directory(path); }, "is a directory, not a file"},
        {[&] { ::mkfifo(path.c_str(), 0600); }, "is not a regular file"},
    };
    for (const auto& [make, problem] : others) {
        std::filesystem::remove_all(path);
        make();
        EXPECT_THAT(ClientError(), AllOf(HasSubstr(path), HasSubstr(problem)));
    }
}

} // namespace
