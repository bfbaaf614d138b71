#pragma once
// The catalogue entries of the signals this daemon publishes: identifier,
// description, default value and unit. An integer default of -1000 means
// "no measurement".

#include "platform/ipc/signaldefinition.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Signals {

inline const CSignalDefinition<std::string> kLteBand(0x76, "LTE Band", "Unknown");
inline const CSignalDefinition<std::string> kLteChannel(0x77, "LTE Channel", "Unknown");
inline const CSignalDefinition<bool> kLteLinkState(0x78, "LTE link state", false);
inline const CSignalDefinition<bool> kWlanLinkState(0x79, "WLAN link state", false);
inline const CSignalDefinition<bool> kApLinkState(0x7a, "AP link state", false);
inline const CSignalDefinition<bool> kEthState(0x7b, "Eth state", false);
inline const CSignalDefinition<bool> kPlcLinkState(0x7c, "PLC link state", false);
inline const CSignalDefinition<std::string> kLteCarrier(0x7d, "LTE carrier", "Unknown");
inline const CSignalDefinition<std::string> kLteNetworkTechnology(0x7e, "LTE network technology", "Unknown");
inline const CSignalDefinition<std::int32_t> kLteSignalStrength(0x7f, "LTE signal strength (Rssi)", -1000, "dBm");
inline const CSignalDefinition<std::int32_t> kWlanSignalStrength(0x80, "WLAN signal strength", -1000, "dBm");
inline const CSignalDefinition<std::string> kLteIccid(0x82, "LTE ICCID", "Unknown");
inline const CSignalDefinition<std::string> kLteImsi(0x83, "LTE IMSI", "Unknown");
inline const CSignalDefinition<std::string> kLteImei(0x84, "LTE IMEI", "Unknown");
inline const CSignalDefinition<std::string> kLteFirmwareVersion(0x85, "LTE module firmware version", "Unknown");
inline const CSignalDefinition<std::string> kLteRegistrationState(0x86, "LTE Registration State", "Unknown");
inline const CSignalDefinition<std::string> kGsmRegistrationState(0x87, "GSM Registration State", "Unknown");
inline const CSignalDefinition<std::int32_t> kLteRsrp(0x88, "LTE signal received power (Rsrp)", -1000, "dBm");
inline const CSignalDefinition<std::int32_t> kLteSinr(0x89, "LTE signal interference and noise (Sinr)", -1000, "dB");
inline const CSignalDefinition<std::int32_t> kLteRsrq(0x8a, "LTE signal quality (Rsrq)", -1000, "dB");
inline const CSignalDefinition<std::vector<std::int32_t>> kLteModuleTemperatures(0x8b, "LTE module temperatures", {},
                                                                                 "°C");
inline const CSignalDefinition<bool> kInvalidConfigValueError(0x451, "Invalid Config Value Error", false);
inline const CSignalDefinition<bool> kLteRoamingDisabled(0x283c, "Roaming is disabled on LTE modem", false);
inline const CSignalDefinition<bool> kSystemTimeNotSynchronized(0x283d, "System time not synchronized yet", false);
inline const CSignalDefinition<bool> kNtpServerDnsQueryFailed(0x283e, "Tarv NTP server DNS query failed", false);
inline const CSignalDefinition<bool> kModemInitializationFailed(0x283f, "Tarv Modem initialization failed", false);
inline const CSignalDefinition<bool> kSimReadFailed(0x2840, "Tarv Failed to read SIM", false);
inline const CSignalDefinition<bool> kIncorrectSimPin(0x2841, "Tarv Incorrect SIM PIN", false);
inline const CSignalDefinition<bool> kModemFatalError(0x2842, "Modem fatal error", false);
inline const CSignalDefinition<bool> kCellularUsingNbIot(0x2843, "Cellular is using NB-IoT", false);
// An event channel: every send carries a human-readable text.
inline const CSignalDefinition<std::string> kConnectivityStatusChanged(0x5017, "Connectivity status has changed", "");

} // namespace Signals
