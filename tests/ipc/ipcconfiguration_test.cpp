#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/ipcconfiguration.h"
#include "platform/rootdir/rootdir.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using testing::AllOf;
using testing::HasSubstr;

class IpcConfiguration : public testing::Test {
protected:
    IpcConfiguration() { CRootDir::Set(mRoot.Root()); }
    ~IpcConfiguration() override { CRootDir::Set("/"); }

    // The error text of reading the file with the given content.
    std::string ErrorFor(const std::string& content)
    {
        mRoot.WriteFile("etc/iipc.json", content);
        try {
            CIpcConfiguration configuration(Path());
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    }
    std::string Path() const { return mRoot.Root() + "etc/iipc.json"; }

    TestSupport::CTempDir mRoot;
};

TEST_F(IpcConfiguration, SocketPathsAreResolvedUnderTheRootDirectory)
{
    mRoot.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarv.sock", "Other": "unix:/x.sock"})");
    const CIpcConfiguration configuration(Path());
    const SIpcEndpoint& endpoint = configuration.GetEndpoint("TarvGenCtrl");
    EXPECT_EQ(endpoint.socketPath, mRoot.Root() + "run/iipc/tarv.sock");
    EXPECT_EQ(endpoint.address, "unix:" + mRoot.Root() + "run/iipc/tarv.sock");
    EXPECT_TRUE(configuration.HasEndpoint("Other"));
    EXPECT_FALSE(configuration.HasEndpoint("Tarv"));
}

TEST_F(IpcConfiguration, EveryFaultNamesTheFileAndTheProblem)
{
    const auto named = [this](const std::string& problem) { return AllOf(HasSubstr(Path()), HasSubstr(problem)); };
    EXPECT_THAT(ErrorFor(R"({"TarvGenCtrl": "unix:/a.sock",})"), named("is not valid JSON"));
    EXPECT_THAT(ErrorFor(""), named("is not valid JSON"));
    EXPECT_THAT(ErrorFor(R"(["unix:/a.sock"])"), named("must hold a JSON object"));
    EXPECT_THAT(ErrorFor(R"({"TarvGenCtrl": 5})"), named("entry 'TarvGenCtrl' must be a string"));
    EXPECT_THAT(ErrorFor(R"({"A": "unix:/a.sock", "A": "unix:/b.sock"})"), named("is not valid JSON"));
    EXPECT_THAT(ErrorFor(R"({"socketGroup": "no-such-group-here"})"),
                named("names the group 'no-such-group-here', which this system does not have"));
    EXPECT_THAT(ErrorFor(R"({"socketGroup": ""})"), named("entry 'socketGroup' must name a group"));

    for (const char* endpoint : {"localhost:50051", "dns:///localhost:50051", "unix:run/a.sock", "unix:",
                                 "unix-abstract:tarv", "tcp://127.0.0.1:5"}) {
        EXPECT_THAT(ErrorFor(std::string(R"({"Tarv": ")") + endpoint + R"("})"), named("only Unix socket endpoints"))
            << endpoint;
    }
    const std::string longName(120, 'x');
    EXPECT_THAT(ErrorFor(R"({"Tarv": "unix:/)" + longName + R"("})"), named("is longer than"));
}

TEST_F(IpcConfiguration, MissingFileOrEntryIsReportedByTheHost)
{
    using Host = AppCommunicationHost<GrpcBackend>;
    try {
        Host host(Path());
        FAIL() << "no error for a missing file";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), AllOf(HasSubstr(Path()), HasSubstr("cannot be read")));
    }

    mRoot.WriteFile("etc/iipc.json", R"({"Tarv": "unix:/run/iipc/tarv.sock"})");
    Host host(Path());
    try {
        host.CreateClient<IBoardControl>("BoardControl");
        FAIL() << "no error for a missing entry";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), AllOf(HasSubstr(Path()), HasSubstr("has no entry for 'BoardControl'")));
    }
}

} // namespace
