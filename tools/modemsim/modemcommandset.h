#pragma once
// The AT command set of the simulated modem: turns one received command
// line into the modem's answer and keeps everything the commands change
// (SIM lock, stored configuration, data context, SMS storage, radio
// function). It does no I/O and reads the time only from its callers, so
// the same line at the same time always gives the same answer.

#include "tools/modemsim/modemanswer.h"
#include "tools/modemsim/modemscenario.h"
#include "tools/modemsim/modemsettings.h"
#include "tools/modemsim/simcard.h"
#include "tools/modemsim/smsstorage.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CModemCommandSet {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr const char* kRoamingFile = "eufs:/datatx/qcmap_config";

    explicit CModemCommandSet(const SModemScenario& scenario);

    // The modem boots: echo on, radio on, SIM powered, volatile state reset.
    void PowerOn(TimePoint now);
    void PowerOff();

    SModemAnswer Execute(const std::string& line, TimePoint now);

    // The command line as it may be logged: PINs, PUKs and the APN password
    // are replaced by "***".
    static std::string Redact(const std::string& line);

    bool EchoOn() const { return mEcho; }
    bool FastShutdownEnabled() const { return mSettings.FastShutdownEnabled(); }
    const CSimCard& Sim() const { return mSim; }
    // The registration states in effect at now: both 0 while the radio is
    // off or the SIM is not unlocked.
    std::pair<int, int> Registration(TimePoint now) const;
    bool PdpActive(TimePoint now);
    void AddSms(const SStoredSms& sms) { mSms.Add(sms); }

private:
    SModemAnswer Basic(const std::string& name);
    SModemAnswer Extended(const std::string& name, bool query, const std::optional<AtArgs>& args, TimePoint now);
    // The extended commands by kind; nullopt for a command (or form) not of
    // that kind.
    std::optional<SModemAnswer> IdentityCommand(const std::string& name, bool query,
                                                const std::optional<AtArgs>& args);
    std::optional<SModemAnswer> SimCommand(const std::string& name, bool query, const std::optional<AtArgs>& args);
    std::optional<SModemAnswer> NetworkCommand(const std::string& name, bool query, const std::optional<AtArgs>& args,
                                               TimePoint now);
    std::optional<SModemAnswer> DataCommand(const std::string& name, bool query, const std::optional<AtArgs>& args,
                                            TimePoint now);
    SModemAnswer Cpin(bool query, const std::optional<AtArgs>& args);
    SModemAnswer Cfun(bool query, const std::optional<AtArgs>& args, TimePoint now);
    SModemAnswer Qicsgp(const AtArgs& args);
    SModemAnswer Qiact(bool query, const std::optional<AtArgs>& args, TimePoint now);
    SModemAnswer Qidnscfg(const AtArgs& args);
    SModemAnswer Qpinc(bool query, const std::optional<AtArgs>& args);
    SModemAnswer FileCommand(const std::string& name, const AtArgs& args);
    SModemAnswer SignalQuality(TimePoint now) const;
    SModemAnswer NetworkInfo(TimePoint now) const;
    SModemAnswer Operator(TimePoint now) const;
    // The "+CME ERROR" answer for a SIM that is not ready, if it is not.
    std::optional<SModemAnswer> SimNotReady(bool sms) const;

    static std::optional<AtArgs> SplitArgs(const std::string& text);

    const SModemScenario mScenario;
    CSimCard mSim;

    // Non-volatile configuration
    CModemSettings mSettings;
    int mApnIpType;
    std::string mApnName;
    std::string mApnUser;
    std::string mApnPassword;
    int mApnAuth;
    std::optional<std::string> mRoamingFile;
    std::vector<SRegistrationStep> mRegistration;
    std::vector<std::string> mDns;

    CSmsStorage mSms;

    // Volatile state, reset at power-on
    bool mEcho = true;
    int mFunction = 1;
    std::optional<TimePoint> mRadioOn;
    bool mPdpActive = false;
};
