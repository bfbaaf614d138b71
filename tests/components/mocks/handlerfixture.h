#pragma once
// The collaborators every interface handler takes, over a private root
// directory: link queries that answer `linkState`, a host name, the running
// system as a table, a driven clock and the log. Mock is NiceMock or
// StrictMock, for the command runner, the error handler and the file editor.

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/handlers/handlerparts.h"
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

    // The fixture's collaborators as a handler's parts.
    SHandlerParts Parts() const
    {
        return {.config = config, .runCommand = runner, .netlink = netlink, .errorHandler = errorHandler,
                .interfacesFileEditor = editor, .hostnameManager = hostname, .clock = clock, .hostSystem = host};
    }

    template <typename T>
    using Nice = ::testing::NiceMock<T>;

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<Mock<MockRunCommand>> runner = std::make_shared<Mock<MockRunCommand>>();
    std::shared_ptr<Mock<MockTarvErrorHandler>> errorHandler = std::make_shared<Mock<MockTarvErrorHandler>>();
    std::shared_ptr<Mock<MockInterfacesFileEditor>> editor = std::make_shared<Mock<MockInterfacesFileEditor>>();
    std::shared_ptr<Nice<MockTarvNetlink>> netlink = std::make_shared<Nice<MockTarvNetlink>>();
    std::shared_ptr<Nice<MockHostnameManager>> hostname = std::make_shared<Nice<MockHostnameManager>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = std::make_shared<CFakeHostSystem>();
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
