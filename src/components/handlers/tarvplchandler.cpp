#include "src/components/handlers/tarvplchandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/links/netlinklinkhandle.h"

#include <fmt/format.h>

#include <unistd.h>

#include <array>
#include <cctype>
#include <exception>
#include <random>
#include <utility>

namespace {

constexpr std::chrono::seconds kPlcStateTimeout{3};
constexpr std::size_t kNmkBytes = 16;

} // namespace

CTarvPlcHandler::CTarvPlcHandler(const SHandlerParts& parts)
    : CTarvConnectionHandlerBase(parts, {ipc::EPlc0, HwHasPlc, kPlcStateTimeout, &Signals::kPlcLinkState}),
      mInterfacesFileEditor(parts.interfacesFileEditor), mWorker("plc0 firmware", mClock)
{
    // The thread runs only while the firmware poll does: Enable starts it.
}

CTarvPlcHandler::~CTarvPlcHandler()
{
    // Drops the firmware poll with every other pending call.
    mWorker.Stop();
}

void CTarvPlcHandler::Initialize()
{
    TLOG_FUNCTION();
    if (!mSupported) {
        TLOG_WARN("PLC not supported");
        return;
    }
    const std::string mac = mConfig->GetString(PlcMacAddr);
    const std::optional<std::string> address = GetLinkLocalAddress(mac);
    if (!address) {
        TLOG_ERROR("PLC MAC address '{}' is not a MAC address, {} stanza not written",
                   CTarvValidation::Printable(mac), mInterfaceName);
        return;
    }
    bool ok = true;
    mInterfacesFileEditor->SetAsStaticIpv6(mInterfaceName, *address, "64", ok);
    mInterfacesFileEditor->SetInterfacesFile(ok);
}

std::optional<std::string> CTarvPlcHandler::GetLinkLocalAddress(const std::string& mac)
{
    if (!CTarvValidation::IsMacAddress(mac)) {
        return std::nullopt;
    }
    std::string digits;
    for (std::size_t i = 0; i < mac.size(); i += 3) {
        digits.append(mac, i, 2);
    }
    // The universal/local bit of the first byte is inverted.
    const unsigned first = static_cast<unsigned>(std::stoul(digits.substr(0, 2), nullptr, 16)) ^ 0x02U;
    return fmt::format("fe80::{:02x}{}:{}ff:fe{}:{}", first, digits.substr(2, 2), digits.substr(4, 2),
                       digits.substr(6, 2), digits.substr(8, 4));
}

std::string CTarvPlcHandler::GenerateRandomNmk()
{
    // Every byte straight from the system's entropy source: a key drawn from
    // a generator seeded with one 32-bit value would be one of only 2^32.
    std::random_device source("default");
    std::string nmk;
    for (std::size_t i = 0; i < kNmkBytes; ++i) {
        if (i > 0) {
            nmk += ':';
        }
        nmk += fmt::format("{:02x}", source() & 0xFFU);
    }
    return nmk;
}

void CTarvPlcHandler::Enable(bool& ok)
{
    TLOG_FUNCTION();
    CTarvConnectionHandlerBase::Enable(ok);
    if (!ok) {
        TLOG_WARN("Failed to enable {}", mInterfaceName);
        return;
    }
    std::lock_guard lock(mWorkerMutex);
    mWorker.Start();
    mWorker.BlockingCall([this] {
        // One poll at a time: a second Enable replaces the first one's.
        if (mFirmwarePoll) {
            mFirmwarePoll->Cancel();
        }
        mFirmwarePoll = mWorker.AddCall([this] { PollFirmware(); }, mClock->Now(), kFirmwarePollPeriod);
    });
}

void CTarvPlcHandler::PollFirmware()
{
    bool up = false;
    try {
        up = mErrorHandler->IsIfInDesiredState(mInterfaceName, Tarv::kOperStateUp);
        mPollFailing = false;
    } catch (const std::exception& e) {
        // A missing plc0 must not end the worker; the poll goes on.
        if (!mPollFailing.exchange(true)) {
            TLOG_ERROR("Could not query {}: {}", mInterfaceName, e.what());
        }
    }
    if (!up) {
        TLOG_TRACE("Postponed loading PLC modem firmware, plc interface is down.");
        return;
    }
    mFirmwarePoll->Cancel();
    mFirmwarePoll.reset();
    LoadQcaFirmware();
    // Nothing is left for the thread: it ends after this call, and the next
    // Enable starts it again. An Enable in progress holds the lock and plants
    // a new poll: then the thread stays.
    std::unique_lock lock(mWorkerMutex, std::try_to_lock);
    if (lock.owns_lock()) {
        mWorker.Stop();
    }
}

void CTarvPlcHandler::LoadQcaFirmware()
{
    TLOG_FUNCTION();
    if (mRunCommand->Run("plctool -i " + mInterfaceName + " -a", 0).output.find(kFirmwareVersion) !=
        std::string::npos) {
        mFirmwareLoaded = true;
        TLOG_INFO("PLC modem firmware is already loaded");
        return;
    }
    const std::string pib = std::string(kFirmwareDir) + kPib;
    const std::string nvm = std::string(kFirmwareDir) + kNvm;
    for (const std::string& file : {pib, nvm}) {
        if (access(CRootDir::Resolve(file).c_str(), R_OK) != 0) {
            TLOG_ERROR("PLC modem firmware file {} is missing", file);
            TLOG_ERROR("Failed to load PLC modem firmware. See above LOG messages");
            mFirmwareLoaded = false;
            return;
        }
    }
    if (mRunCommand->Run("plcboot -i " + mInterfaceName + " -P " + CRootDir::Resolve(pib) + " -N " +
                             CRootDir::Resolve(nvm),
                         0)
            .exitCode != 0) {
        TLOG_ERROR("Failed to load PLC modem firmware. See above LOG messages");
        mFirmwareLoaded = false;
        return;
    }
    mFirmwareLoaded = true;
    TLOG_INFO("Successfully loaded PLC modem firmware");
}

void CTarvPlcHandler::SetNetworkNmk()
{
    TLOG_FUNCTION();
    if (mNmkSet || !mFirmwareLoaded) {
        return;
    }
    // The key is on the command line only; the command runner logs no more
    // than the program name.
    const SCommandResult result = mRunCommand->Run("plctool -i " + mInterfaceName + " -M -K " + GenerateRandomNmk(), 0);
    if (result.output.find(kNmkFailureMarker) != std::string::npos) {
        TLOG_ERROR("Failed to load new NMK value");
        return;
    }
    TLOG_INFO("Successfully reset NMK");
    mNmkSet = true;
}

ipc::MNetStatus CTarvPlcHandler::GetStatus()
{
    ipc::MNetStatus status;
    status.set_interface(ipc::EPlc0);
    if (!mFirmwareLoaded) {
        return status;
    }
    bool connected = false;
    const CNetlinkLinkHandle link(*mNetlink, mInterfaceName);
    if (link.State() == Tarv::kOperStateUp) {
        connected = QueryPowerlineLink();
    } else {
        // A link that comes back is asked about at once.
        std::lock_guard lock(mLinkQueryMutex);
        mLinkQueriedAt.reset();
    }
    mLinkSignal->SetValue(connected);
    status.set_connectionstate(connected ? ipc::MNetStatus::EConnected : ipc::MNetStatus::EDisconnected);
    return status;
}

bool CTarvPlcHandler::QueryPowerlineLink()
{
    std::lock_guard lock(mLinkQueryMutex);
    const IClock::time_point now = mClock->Now();
    if (mLinkQueriedAt && now - *mLinkQueriedAt < kLinkQueryPeriod) {
        return mLinkConnected;
    }
    std::string output = mRunCommand->Run("plctool -i " + mInterfaceName + " -L -q", 0).output;
    // The link state is the last character the query prints.
    while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back())) != 0) {
        output.pop_back();
    }
    mLinkConnected = !output.empty() && output.back() == '1';
    mLinkQueriedAt = now;
    return mLinkConnected;
}
