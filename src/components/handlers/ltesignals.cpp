#include "src/components/handlers/ltesignals.h"

#include "diagnostics/signalcatalogue.h"

namespace {

constexpr std::chrono::hours kReducedPeriod{1};

} // namespace

CLteSignals::CLteSignals(const std::shared_ptr<IClock>& clock)
    : mCarrier(&Signals::kLteCarrier), mTechnology(&Signals::kLteNetworkTechnology),
      mRssi(&Signals::kLteSignalStrength), mImsi(&Signals::kLteImsi), mNbIot(&Signals::kCellularUsingNbIot),
      mLteRegistration(&Signals::kLteRegistrationState, kReducedPeriod, clock),
      mGsmRegistration(&Signals::kGsmRegistrationState, kReducedPeriod, clock),
      mRsrp(&Signals::kLteRsrp, kReducedPeriod, clock), mSinr(&Signals::kLteSinr, kReducedPeriod, clock),
      mRsrq(&Signals::kLteRsrq, kReducedPeriod, clock), mBand(&Signals::kLteBand, kReducedPeriod, clock),
      mChannel(&Signals::kLteChannel, kReducedPeriod, clock),
      mTemperatures(&Signals::kLteModuleTemperatures, kReducedPeriod, clock)
{
}

void CLteSignals::SendStatus(const std::string& carrier, const Modem::SignalInfo& signal, const std::string& imsi)
{
    mCarrier.Send(carrier);
    mTechnology.Send(signal.technology);
    mRssi.Send(signal.rssi);
    mImsi.Send(imsi);
    mNbIot.Send(signal.technology == "NBIoT");
}

void CLteSignals::SendRegistration(const std::string& lte, const std::string& gsm)
{
    std::lock_guard lock(mReducedMutex);
    mLteRegistration.Send(lte);
    mGsmRegistration.Send(gsm);
}

void CLteSignals::SendExtended(const Modem::SignalInfo& signal, const std::vector<std::int32_t>& temperatures)
{
    std::lock_guard lock(mReducedMutex);
    mRsrp.Send(signal.rsrp);
    mSinr.Send(signal.sinr);
    mRsrq.Send(signal.rsrq);
    mBand.Send(signal.band);
    mChannel.Send(signal.channel);
    mTemperatures.Send(temperatures);
}
