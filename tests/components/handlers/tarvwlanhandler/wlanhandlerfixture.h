#pragma once
// A WLAN station handler on scripted collaborators and a driven clock.

#include "src/components/handlers/tarvwlanhandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/handlers/tarvwlanhandler/fakewifiscan.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

namespace HandlerMocks {

class WlanHandlerFixture : public ::testing::Test {
protected:
    WlanHandlerFixture()
    {
        using ::testing::_;
        using ::testing::Return;
        CRootDir::Set(root.Root());
        config->bools[HwHasWlan] = true;
        config->bools[TarvWlanEnable] = true;
        config->strings[TarvSsid] = "Home";
        config->strings[WlanStaPassword] = kPassphrase;
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        ON_CALL(*netlink, ConnectSocket()).WillByDefault(Return(FakeSocket()));
        ON_CALL(*netlink, GetLink(_, _)).WillByDefault(Return(FakeLink()));
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault([this](rtnl_link*) { return linkState.load(); });
        ON_CALL(*errorHandler, IsIfInDesiredState(_, _)).WillByDefault(Return(true));
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("charger-1")));
        ON_CALL(*supplicant, StartWpaSupplicant(_, _, _)).WillByDefault(Return(true));
        host->AddAddress("wlan0", "192.168.8.20", "255.255.255.0");
    }
    ~WlanHandlerFixture() override
    {
        handler.reset();
        CRootDir::Set("/");
    }

    CTarvWlanHandler& Handler()
    {
        if (!handler) {
            handler = std::make_unique<CTarvWlanHandler>(config, runner, errorHandler, editor, netlink, scan,
                                                         hostname, supplicant, clock, host);
        }
        return *handler;
    }

    static constexpr const char* kPassphrase = "sEcret-Pass-42";

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<::testing::NiceMock<MockRunCommand>> runner =
        std::make_shared<::testing::NiceMock<MockRunCommand>>();
    std::shared_ptr<::testing::NiceMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<::testing::NiceMock<MockTarvErrorHandler>>();
    std::shared_ptr<::testing::NiceMock<MockInterfacesFileEditor>> editor =
        std::make_shared<::testing::NiceMock<MockInterfacesFileEditor>>();
    std::shared_ptr<::testing::NiceMock<MockTarvNetlink>> netlink =
        std::make_shared<::testing::NiceMock<MockTarvNetlink>>();
    std::shared_ptr<::testing::NiceMock<MockHostnameManager>> hostname =
        std::make_shared<::testing::NiceMock<MockHostnameManager>>();
    std::shared_ptr<::testing::NiceMock<MockWpaSupplicantHandler>> supplicant =
        std::make_shared<::testing::NiceMock<MockWpaSupplicantHandler>>();
    std::shared_ptr<CFakeWifiScan> scan = std::make_shared<CFakeWifiScan>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = std::make_shared<CFakeHostSystem>();
    std::atomic<std::uint8_t> linkState{Tarv::kOperStateUp};
    TestSupport::CLogCapture log;
    std::unique_ptr<CTarvWlanHandler> handler;
};

} // namespace HandlerMocks
