#pragma once
// A simulated LTE modem on a pseudo-terminal, for the simulated station and
// for tests. It watches the power-key and fast-shutdown GPIO value files
// under the root directory and powers on and off on their pulses; while it
// is on, ROOT/dev/ttyATSERIAL2 is a symbolic link to the terminal's slave
// device, and it disappears when the modem goes off. After power-on the
// modem sends "APP RDY" and echoes commands until ATE0; it answers the AT
// command set from its scenario (CModemCommandSet) and can inject faults.
//
// The simulator runs on a thread of its own from construction to
// destruction. It sleeps in poll() on the GPIO watch, the terminal and a
// wake-up descriptor, with a time-out only while a delay is running, so an
// idle simulator costs no wake-ups. Every public operation may be called
// from any thread.
//
// Time: every delay and registration step of the scenario is multiplied by
// the time scale (0.01 runs a 2 s power-on in 20 ms). With a manual clock
// the simulator's time moves only when the test advances the clock.

#include "platform/worker/iclock.h"
#include "tools/modemsim/modemfaults.h"
#include "tools/modemsim/modeminput.h"
#include "tools/modemsim/modemoutput.h"
#include "tools/modemsim/modemscenario.h"
#include "tools/modemsim/simcard.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CModemCommandSet;
class CGpioPulseWatch;
class CPseudoTerminal;

class CModemSimulator {
public:
    static constexpr int kPowerKeyGpio = 74;
    static constexpr int kFastShutdownGpio = 75;
    static constexpr const char* kDevicePath = "/dev/ttyATSERIAL2";
    // Longest command line taken; a longer one is answered with ERROR.
    static constexpr std::size_t kMaxCommandLength = 2048;
    // Bytes waiting for the daemon to read beyond this are dropped.
    static constexpr std::size_t kMaxPendingOutput = 1 << 20;

    enum class EPower {
        Off,
        Booting,      // power key released, device not there yet
        On,           // device present
        OnNoDevice,   // running but its device is missing (injected fault)
        ShuttingDown, // power key released while on, device still there
    };

    struct SOptions {
        std::string root = "/";
        double timeScale = 1.0;
        std::shared_ptr<IClock> clock; // the steady clock when empty
        // Receives one line per event; standard error when empty. Called
        // on the simulator thread with its lock held: it must not call the
        // simulator.
        std::function<void(const std::string&)> log;
    };

    // Throws std::system_error when the GPIO files or the watch cannot be
    // set up and std::invalid_argument for a time scale that is not positive.
    CModemSimulator(const SModemScenario& scenario, SOptions options);
    // Parses the scenario text first; throws std::invalid_argument with the
    // scenario error.
    CModemSimulator(const std::string& scenarioJson, SOptions options);
    ~CModemSimulator();
    CModemSimulator(const CModemSimulator&) = delete;
    CModemSimulator& operator=(const CModemSimulator&) = delete;

    // ROOT/dev/ttyATSERIAL2, the path the daemon opens.
    std::string DevicePath() const;
    std::string PowerKeyPath() const;
    EPower Power() const;
    bool IsDevicePresent() const;
    // Waits until the device is present (or gone); false when limit passed.
    bool WaitForDevice(bool present, std::chrono::milliseconds limit);
    bool WaitForPower(EPower power, std::chrono::milliseconds limit);
    // Waits until "APP RDY" was sent after the last power-on.
    bool WaitForReady(std::chrono::milliseconds limit);
    // Waits until at least count commands were received since construction.
    bool WaitForCommands(std::size_t count, std::chrono::milliseconds limit);

    // Run-time changes, as the scenario would set them.
    void InjectFault(const SModemFault& fault);
    void AddSms(const SStoredSms& sms);
    // Power-ons from now on after which the device does not appear;
    // negative: every one.
    void SetDeviceMissingPowerOns(int count);
    // The device disappears now (serial lost); the modem keeps running
    // without it until the next power-key pulse.
    void VanishDevice();

    // The modem switches itself off now (as after overheating or a short
    // mains dip): the device disappears, and the next pulse powers it on.
    void SwitchOffByItself();
    // The module restarts behind its device, which stays: echo is on again,
    // it does not listen until "APP RDY", and the SIM starts again.
    void ResetKeepingDevice();

    // Every command line received, PIN and password replaced by "***".
    std::vector<std::string> Commands() const;
    CSimCard::EState SimState() const;
    int PinAttemptsLeft() const;

private:
    void Run();
    void Wake();
    // Waits at most limit for done() to hold (called with mMutex held).
    template <typename Predicate>
    bool WaitUntil(std::chrono::milliseconds limit, Predicate done);
    // Sets a request flag (guarded by mMutex) and wakes the simulator thread.
    void Request(bool CModemSimulator::*flag);
    // The following run on the simulator thread with mMutex held.
    void OnPulse(int gpio);
    void RunTimers();
    void OnInput(const std::string& bytes);
    void OnCommand(const std::string& line);
    // Answers the command line as the fault says; returns the final result
    // line of the regular answer where one was sent, for the log.
    std::string InjectInto(const std::string& line, const SModemFault& fault);
    void Queue(std::string bytes, IClock::duration delay = {});
    void FlushOutput();
    void DeviceUp();
    void DeviceDown(EPower next);
    IClock::duration Scaled(std::int64_t scenarioMs) const;
    std::chrono::steady_clock::time_point ScenarioNow() const;
    int PollTimeoutMs() const;
    void Log(const std::string& line) const;
    void SetPower(EPower power);
    void RunRequests();
    // Whether the line is a SIM command answered busy while the SIM starts.
    bool SimBusy(const std::string& line);

    const SOptions mOptions;
    const std::shared_ptr<IClock> mClock;
    const SModemScenario mScenario;
    const IClock::time_point mStart;
    int mWakeFd = -1;
    int mClockListener = 0;
    std::unique_ptr<CGpioPulseWatch> mGpio; // simulator thread only after start

    mutable std::mutex mMutex;
    std::condition_variable mChanged;                   // signalled under mMutex
    bool mStop = false;                                 // guarded by mMutex
    std::unique_ptr<CModemCommandSet> mCommands;        // guarded by mMutex
    std::unique_ptr<CPseudoTerminal> mPty;              // guarded by mMutex
    EPower mPower = EPower::Off;                        // guarded by mMutex
    bool mReady = false;                                // guarded by mMutex
    std::optional<IClock::time_point> mDue;             // guarded by mMutex: next power or ready step
    CModemInput mInput;                                 // guarded by mMutex
    CModemOutput mOutput;                               // guarded by mMutex
    CModemFaults mFaults;                               // guarded by mMutex
    int mDeviceMissingPowerOns;                         // guarded by mMutex
    std::vector<std::string> mReceived;                 // guarded by mMutex
    bool mVanishRequested = false;                      // guarded by mMutex
    bool mSelfOffRequested = false;                     // guarded by mMutex
    bool mResetRequested = false;                       // guarded by mMutex
    std::optional<IClock::time_point> mSimReadyDue;     // guarded by mMutex: SIM busy until then

    std::thread mThread;

public:
    // Run-time change of the power timing (scenario milliseconds, before the
    // time scale), from the next power step on.
    void SetTiming(std::int64_t powerOnMs, std::int64_t appReadyMs, std::int64_t powerOffMs);

private:
    std::int64_t mPowerOnMs;  // guarded by mMutex
    std::int64_t mAppReadyMs; // guarded by mMutex
    std::int64_t mPowerOffMs; // guarded by mMutex
};
