#include "src/components/system/netstatusequality.h"

#include <gtest/gtest.h>

#include <functional>

TEST(NetStatusEquality, EveryComparedFieldMakesADifferenceUnsetAndIgnoredOnesDoNot)
{
    ipc::MNetStatus a, b;
    b.mutable_properties();
    b.mutable_dns();
    b.mutable_lteinfo();
    b.set_interface(ipc::EEth0);
    b.set_signalstrength(-60);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);

    const std::vector<std::function<void(ipc::MNetStatus&)>> changes = {
        [](ipc::MNetStatus& s) { s.set_connectionstate(ipc::MNetStatus::EConnected); },
        [](ipc::MNetStatus& s) { s.mutable_properties()->set_ipaddress("10.0.0.2"); },
        [](ipc::MNetStatus& s) { s.mutable_properties()->set_subnetmask("255.0.0.0"); },
        [](ipc::MNetStatus& s) { s.mutable_properties()->set_defaultgateway("10.0.0.1"); },
        [](ipc::MNetStatus& s) { s.mutable_dns()->set_primarydns("10.0.0.53"); },
        [](ipc::MNetStatus& s) { s.mutable_dns()->set_secondarydns("8.8.8.8"); },
        [](ipc::MNetStatus& s) { s.mutable_lteinfo()->set_carrier("carrier"); },
        [](ipc::MNetStatus& s) { s.mutable_lteinfo()->set_technology("LTE"); },
        [](ipc::MNetStatus& s) { s.mutable_lteinfo()->set_iccid("8949"); },
        [](ipc::MNetStatus& s) { s.mutable_lteinfo()->set_imsi("262"); },
        [](ipc::MNetStatus& s) { s.mutable_lteinfo()->set_imei("35"); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        ipc::MNetStatus base;
        base.mutable_properties()->set_ipaddress("10.0.0.1");
        ipc::MNetStatus changed = base;
        changes[i](changed);
        EXPECT_TRUE(base != changed) << "change " << i;
        changes[i](base);
        EXPECT_TRUE(base == changed) << "change " << i;
    }
}
