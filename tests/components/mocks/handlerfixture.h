#pragma once
// The collaborators every interface handler takes, over a private root
// directory: link queries that answer `linkState`, a host name, the running
// system as a table, a driven clock and the log. Mock is NiceMock or
// StrictMock, for the command runner, the error handler and the file editor.

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <atomic>

namespace HandlerMocks {

template <template <typename> class Mock>
class CHandlerFixture : public ::testing::Test {
protected:
    CHandlerFixture()
    {
        CRootDir::Set(root.Root());
        ON_CALL(*netlink, GetLinkState(::testing::_)).WillByDefault([this](rtnl_link*) { return linkState.load(); });
        ON_CALL(*hostname, GetHostname()).WillByDefault(::testing::Return(std::optional<std::string>("charger-1")));
    }
    ~CHandlerFixture() override { CRootDir::Set("/"); }

    template <typename T>
    static std::shared_ptr<T> New()
    {
        return std::make_shared<T>();
    }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = New<CFakeConfig>();
    std::shared_ptr<Mock<MockRunCommand>> runner = New<Mock<MockRunCommand>>();
    std::shared_ptr<Mock<MockTarvErrorHandler>> errorHandler = New<Mock<MockTarvErrorHandler>>();
    std::shared_ptr<Mock<MockInterfacesFileEditor>> editor = New<Mock<MockInterfacesFileEditor>>();
    std::shared_ptr<::testing::NiceMock<MockTarvNetlink>> netlink = New<::testing::NiceMock<MockTarvNetlink>>();
    std::shared_ptr<::testing::NiceMock<MockHostnameManager>> hostname = New<::testing::NiceMock<MockHostnameManager>>();
    std::shared_ptr<CManualClock> clock = New<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = New<CFakeHostSystem>();
    std::atomic<std::uint8_t> linkState{Tarv::kOperStateUp};
    TestSupport::CLogCapture log;
};

// Whether the call threw a CTarvException; anything else passes through.
template <typename F>
bool Throws(F&& call)
{
    try {
        call();
    } catch (const CTarvException&) {
        return true;
    }
    return false;
}

} // namespace HandlerMocks
