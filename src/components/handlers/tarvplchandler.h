#pragma once
// Handler of the powerline modem plc0: an IPv6 link-local address derived
// from the modem's MAC address, the modem firmware loaded once the link is
// up (polled every 500 ms on its own worker), a fresh network membership key
// on request, and the powerline link in the status.

#include "platform/worker/worker.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/system/itarvinterfacesfileeditor.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class CTarvPlcHandler : public CTarvConnectionHandlerBase {
public:
    // Uses the interfaces file editor of the parts.
    explicit CTarvPlcHandler(const SHandlerParts& parts);
    // Cancels the firmware poll and stops the worker before the handler goes.
    ~CTarvPlcHandler() override;

    // Writes the plc0 stanza with the link-local address.
    void Initialize() override;
    // Brings plc0 up and loads the firmware once the link is up.
    void Enable(bool& ok) override;
    // No connection state until the firmware runs; then the powerline link.
    ipc::MNetStatus GetStatus() override;

    // Loads the firmware unless the expected version already runs.
    void LoadQcaFirmware();
    // Sets a fresh random network membership key once, after the firmware loaded.
    void SetNetworkNmk();

    // RFC 4291 modified EUI-64 link-local address of a MAC address
    // ("00:01:87:12:34:56" -> "fe80::0201:87ff:fe12:3456"); nullopt for text
    // that is not six hexadecimal pairs separated by ':'.
    static std::optional<std::string> GetLinkLocalAddress(const std::string& mac);
    // 16 random bytes as lowercase hexadecimal pairs separated by ':'.
    static std::string GenerateRandomNmk();

    static constexpr std::chrono::milliseconds kFirmwarePollPeriod{500};
    // The powerline link query runs a command: while plc0 stays up, a status
    // request within this time of the last query reuses its answer.
    static constexpr std::chrono::seconds kLinkQueryPeriod{5};
    static constexpr const char* kFirmwareDir = "/lib/firmware/qca/";
    static constexpr const char* kPib = "QCA7005-SpiSlave-EVSE.pib";
    static constexpr const char* kNvm = "MAC-7005-v1.2.5-00-CS.nvm";
    static constexpr const char* kFirmwareVersion = "QCA7005-MAC-QCA7005-1.2.5.3207-00-20180927-CS";
    static constexpr const char* kNmkFailureMarker = "Have 'plc0' instead of MAC address";

private:
    void PollFirmware();
    // Whether the powerline has a peer, asked at most once per kLinkQueryPeriod.
    bool QueryPowerlineLink();

    // Set once at construction.
    const std::shared_ptr<ITarvInterfacesFileEditor> mInterfacesFileEditor;
    // Written on the worker (and by SetNetworkNmk), read by status requests.
    std::atomic<bool> mFirmwareLoaded{false};
    std::atomic<bool> mNmkSet{false};
    // Whether the last poll could not query plc0, so that it is logged once.
    std::atomic<bool> mPollFailing{false};
    std::mutex mLinkQueryMutex;
    // The last link query's time (none: ask at once) and answer; guarded by mLinkQueryMutex.
    std::optional<IClock::time_point> mLinkQueriedAt;
    bool mLinkConnected = false;
    // Touched only on mWorker's thread (through BlockingCall from elsewhere).
    CWorker::CallHandle mFirmwarePoll;
    // Held by Enable while it starts the worker and plants the poll, and by the
    // poll while it ends the worker's thread, so that no new poll is dropped.
    std::mutex mWorkerMutex;
    // Runs from Enable until the firmware poll is done (no thread that only sleeps).
    // Last member: its thread stops (in the destructor) before the rest goes.
    CWorker mWorker;
};
