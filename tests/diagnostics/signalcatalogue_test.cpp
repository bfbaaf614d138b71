#include "diagnostics/signalcatalogue.h"

#include <gtest/gtest.h>

#include <set>

TEST(SignalCatalogue, IdentifiersAreDistinctAndEntriesCarryTheirDefaults)
{
    const std::set<std::uint32_t> identifiers = {
        Signals::kLteBand.GetIdentifier(),
        Signals::kLteChannel.GetIdentifier(),
        Signals::kLteLinkState.GetIdentifier(),
        Signals::kWlanLinkState.GetIdentifier(),
        Signals::kApLinkState.GetIdentifier(),
        Signals::kEthState.GetIdentifier(),
        Signals::kPlcLinkState.GetIdentifier(),
        Signals::kLteCarrier.GetIdentifier(),
        Signals::kLteNetworkTechnology.GetIdentifier(),
        Signals::kLteSignalStrength.GetIdentifier(),
        Signals::kWlanSignalStrength.GetIdentifier(),
        Signals::kLteIccid.GetIdentifier(),
        Signals::kLteImsi.GetIdentifier(),
        Signals::kLteImei.GetIdentifier(),
        Signals::kLteFirmwareVersion.GetIdentifier(),
        Signals::kLteRegistrationState.GetIdentifier(),
        Signals::kGsmRegistrationState.GetIdentifier(),
        Signals::kLteRsrp.GetIdentifier(),
        Signals::kLteSinr.GetIdentifier(),
        Signals::kLteRsrq.GetIdentifier(),
        Signals::kLteModuleTemperatures.GetIdentifier(),
        Signals::kInvalidConfigValueError.GetIdentifier(),
        Signals::kLteRoamingDisabled.GetIdentifier(),
        Signals::kSystemTimeNotSynchronized.GetIdentifier(),
        Signals::kNtpServerDnsQueryFailed.GetIdentifier(),
        Signals::kModemInitializationFailed.GetIdentifier(),
        Signals::kSimReadFailed.GetIdentifier(),
        Signals::kIncorrectSimPin.GetIdentifier(),
        Signals::kModemFatalError.GetIdentifier(),
        Signals::kCellularUsingNbIot.GetIdentifier(),
        Signals::kConnectivityStatusChanged.GetIdentifier(),
    };
    EXPECT_EQ(identifiers.size(), 31u);
    EXPECT_EQ(*identifiers.begin(), 118u);
    EXPECT_EQ(*identifiers.rbegin(), 20503u);
    EXPECT_FALSE(identifiers.contains(0x81));

    EXPECT_EQ(Signals::kLteRsrp.GetDefault(), -1000);
    EXPECT_EQ(Signals::kLteRsrp.GetUnit(), "dBm");
    EXPECT_EQ(Signals::kLteSinr.GetUnit(), "dB");
    EXPECT_EQ(Signals::kLteModuleTemperatures.GetUnit(), "°C");
    EXPECT_TRUE(Signals::kLteModuleTemperatures.GetDefault().empty());
    EXPECT_EQ(Signals::kLteImei.GetDefault(), "Unknown");
    EXPECT_EQ(Signals::kEthState.GetDescription(), "Eth state");
    EXPECT_EQ(Signals::kEthState.GetUnit(), "");
    EXPECT_EQ(Signals::kConnectivityStatusChanged.GetDefault(), "");
}
