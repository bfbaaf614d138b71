#pragma once
// Fakes for the modem layer's tests: a serial port whose far end is a
// script (each written command's answer lines become readable; single-threaded,
// like the channel's callers here), the handlers' configuration from a map and
// a mock of the modem command layer.

#include "platform/serial/serial.h"
#include "platform/worker/iclock.h"
#include "src/components/ltemodem/imodem.h"
#include "tests/components/mocks/handlermocks.h"

#include <gmock/gmock.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ModemTest {

using Lines = std::vector<std::string>;

class CScriptedSerial : public CSerial {
public:
    CScriptedSerial() : CSerial("/dev/ttyATSERIAL2") {}

    bool IsDevicePresent() const override { return true; }
    bool IsOpen() const override { return open; }
    bool Open() override { return open = openSucceeds; }
    void Close() override { open = false; }
    void Flush() override { pending.clear(); }
    bool Write(const std::string& text) override
    {
        written.push_back(text);
        const std::string command = text.substr(0, text.find("\r\n"));
        const auto it = answers.find(command);
        const Lines lines = it != answers.end() ? it->second : fallback ? fallback(command) : Lines {};
        const auto late = delays.find(command);
        if (late != delays.end() && clock) {
            for (const auto& line : lines) {
                inFlight.emplace_back(clock->Now() + late->second, line);
            }
        } else {
            pending.insert(pending.end(), lines.begin(), lines.end());
        }
        return writeSucceeds;
    }
    bool Read(std::string& line) override
    {
        // Lines of a late answer arrive once their time has come.
        while (!inFlight.empty() && inFlight.front().first <= clock->Now()) {
            pending.push_back(inFlight.front().second);
            inFlight.pop_front();
        }
        if (!open || pending.empty()) {
            return false;
        }
        line = pending.front();
        pending.pop_front();
        return true;
    }

    bool open = false;
    bool openSucceeds = true;
    bool writeSucceeds = true;
    std::deque<std::string> pending;
    std::map<std::string, Lines> answers;
    std::function<Lines(const std::string&)> fallback;
    Lines written;
    // Commands whose answer arrives this long after the command (needs clock).
    std::map<std::string, std::chrono::milliseconds> delays;
    std::shared_ptr<IClock> clock;
    std::deque<std::pair<IClock::time_point, std::string>> inFlight;
};

using HandlerMocks::CFakeConfig;

class CMockModem : public Modem::IModem {
public:
    MOCK_METHOD(bool, IsSerialPresent, (), (override));
    MOCK_METHOD(bool, InitializeSerial, (), (override));
    MOCK_METHOD(void, CloseSerial, (), (override));
    MOCK_METHOD(void, TogglePower, (), (override));
    MOCK_METHOD(void, FastShutdown, (), (override));
    MOCK_METHOD(EAtResult, ConfigureEcm, (), (override));
    MOCK_METHOD(EAtResult, EnableFastShutdown, (), (override));
    MOCK_METHOD(EAtResult, IsEcmMode, (bool&), (override));
    MOCK_METHOD(EAtResult, SoftResetModem, (), (override));
    MOCK_METHOD(EAtResult, SetAvailableBands, (), (override));
    MOCK_METHOD(EAtResult, SetTechPriority, (), (override));
    MOCK_METHOD(EAtResult, SetApn, (const Modem::ApnSettings&), (override));
    MOCK_METHOD(EAtResult, GetPdpContext, (Modem::PdpContext&), (override));
    MOCK_METHOD(EAtResult, ActivatePdpContext, (), (override));
    MOCK_METHOD(EAtResult, IsRoamingEnabled, (bool&), (override));
    MOCK_METHOD(EAtResult, DeleteRoamingConfigFile, (), (override));
    MOCK_METHOD(EAtResult, ConfigureNbIot, (), (override));
    MOCK_METHOD(EAtResult, GetSimEffect, (bool&), (override));
    MOCK_METHOD(EAtResult, DisableSimEffect, (), (override));
    MOCK_METHOD(EAtResult, GetModemFirmwareVersion, (std::string&), (override));
    MOCK_METHOD(EAtResult, GetImei, (std::string&), (override));
    MOCK_METHOD(EAtResult, GetTemperatures, (std::vector<std::int32_t>&), (override));
    MOCK_METHOD(EAtResult, InitializeSim, (), (override));
    MOCK_METHOD(EAtResult, UnlockSim, (), (override));
    MOCK_METHOD(EAtResult, IsSimInserted, (bool&), (override));
    MOCK_METHOD(EAtResult, GetIccid, (std::string&), (override));
    MOCK_METHOD(EAtResult, GetImsi, (std::string&), (override));
    MOCK_METHOD(EAtResult, SetSmsTextMode, (), (override));
    MOCK_METHOD(EAtResult, SetSmsStorage, (), (override));
    MOCK_METHOD(EAtResult, DeleteSmsMsgs, (), (override));
    MOCK_METHOD(EAtResult, DeleteReadSmsMsgs, (), (override));
    MOCK_METHOD(EAtResult, GetSmsMsg, (std::vector<std::string>&), (override));
    MOCK_METHOD(EAtResult, GetDnsServers, (std::vector<std::string>&), (override));
    MOCK_METHOD(EAtResult, GetLteRegistrationStatus, (Modem::ERegistrationState&), (override));
    MOCK_METHOD(EAtResult, GetEgprsRegistrationStatus, (Modem::ERegistrationState&), (override));
    MOCK_METHOD(unsigned, ConsecutiveTimeouts, (), (override));
    MOCK_METHOD(EAtResult, GetSignalInfo, (Modem::SignalInfo&), (override));
    MOCK_METHOD(EAtResult, GetCarrier, (std::string&), (override));
    MOCK_METHOD(std::optional<Modem::ApnSettings>, GetApnSettings, (), (override));
    MOCK_METHOD(bool, IsSmsEnabled, (), (override));
    MOCK_METHOD(void, SetSmsEnabled, (bool), (override));
    MOCK_METHOD(Modem::SModemEvents, TakeEvents, (), (override));
};

} // namespace ModemTest
