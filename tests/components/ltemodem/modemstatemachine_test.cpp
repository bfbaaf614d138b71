#include "src/components/ltemodem/modemstatemachine.h"
#include "src/components/ltemodem/modemstatemachineimpl.h"

#include "platform/ipc/diagnosticscommclient.h"
#include "platform/worker/manualclock.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Modem::ApnSettings;
using TestSupport::CLogCapture;
using ::testing::NiceMock;
using ::testing::Return;
using Lines = std::vector<std::string>;

// A query that succeeds with the given answer.
auto Gives(bool answer)
{
    return ::testing::DoAll(::testing::SetArgReferee<0>(answer), Return(EAtResult::Ok));
}

// A healthy modem that powers up and down with the power key.
class ModemStateMachineTest : public ::testing::Test {
protected:
    ModemStateMachineTest()
    {
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            if (std::get<bool>(sample.value)) {
                std::lock_guard lock(mRaisedMutex);
                mRaised.push_back(sample.identifier);
            }
            return true;
        });
        // A pulse toggles the power. The device appears mEnumeration after
        // power-on and goes a second after power-off; a modem that lost its
        // device (mDeviceLost) stays on without it until the next pulse.
        ON_CALL(*mModem, IsSerialPresent()).WillByDefault([this] { return DevicePresent(); });
        ON_CALL(*mModem, TogglePower()).WillByDefault([this] {
            ++mPulses;
            mGoneAt = DevicePresent() ? mClock->Now() + 1s : IClock::time_point {};
            mUpAt = mClock->Now() + mEnumeration.load();
            mPowered = !mPowered;
            mDeviceLost = false;
        });
        ON_CALL(*mModem, InitializeSerial()).WillByDefault(Return(true));
        ON_CALL(*mModem, IsEcmMode).WillByDefault(Gives(true));
        ON_CALL(*mModem, IsRoamingEnabled).WillByDefault(Gives(true));
        ON_CALL(*mModem, GetSimEffect).WillByDefault(Gives(false));
        ON_CALL(*mModem, GetApnSettings()).WillByDefault(Return(ApnSettings {}));
        MakeMachine();
    }
    ~ModemStateMachineTest() override
    {
        mMachine.reset();
        CDiagnosticsCommClient::SetSink({});
    }

    bool DevicePresent() const
    {
        const auto now = mClock->Now();
        return !mDeviceLost && ((mPowered && now >= mUpAt.load()) || now < mGoneAt.load());
    }
    void Target(EModemState target, IModemStateMachine::Callback callback = {})
    {
        mMachine->SetTargetState(target, std::move(callback));
        mWorker->Sync();
    }
    void Steps(int count)
    {
        for (int i = 0; i < count; ++i) {
            mClock->Advance(500ms);
            mWorker->Sync();
        }
    }
    // A new machine, its transitions recorded afresh.
    void MakeMachine()
    {
        mMachine.reset();
        mTransitions.clear();
        mMachine = std::make_unique<CModemStateMachine>(
            std::make_unique<CModemStateMachineImpl>(mModem, 30s, mClock), mWorker, CModemStateMachine::kDefaultPeriod,
            [this](EModemState from, EModemState to) {
                std::lock_guard lock(mTransitionsMutex);
                mTransitions.push_back(std::string(CModemStateMachine::EModemStateToString(from)) + ">" +
                                       CModemStateMachine::EModemStateToString(to));
            });
    }
    // The state changes so far, as "From>To".
    Lines Transitions()
    {
        std::lock_guard lock(mTransitionsMutex);
        return mTransitions;
    }

    CLogCapture mLog;
    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    std::shared_ptr<CWorker> mWorker = std::make_shared<CWorker>("modemsm-test", mClock);
    std::shared_ptr<NiceMock<ModemTest::CMockModem>> mModem = std::make_shared<NiceMock<ModemTest::CMockModem>>();
    std::atomic<bool> mPowered {false};
    std::atomic<bool> mDeviceLost {false};
    std::atomic<IClock::time_point> mGoneAt {};
    std::atomic<IClock::time_point> mUpAt {};
    std::atomic<IClock::duration> mEnumeration {IClock::duration {0}};
    std::atomic<int> mPulses {0};
    std::mutex mRaisedMutex;
    std::vector<std::uint32_t> mRaised; // identifiers of signals sent as true; guarded by mRaisedMutex
    std::mutex mTransitionsMutex;
    Lines mTransitions; // guarded by mTransitionsMutex
    std::unique_ptr<CModemStateMachine> mMachine;
};

TEST_F(ModemStateMachineTest, EnablePathThenNothingRunsAtRest)
{
    EXPECT_CALL(*mModem, SetSmsEnabled(false)).Times(::testing::AnyNumber());
    EXPECT_CALL(*mModem, SetSmsEnabled(true));
    int calls = 0;
    Target(EModemState::Enabled, [&calls](bool ok) { calls += ok ? 1 : 100; });
    Steps(10);
    EXPECT_EQ(Transitions(),
              (Lines {"Disabled>Initializing", "Initializing>Initialized", "Initialized>Enabling", "Enabling>Enabled"}));
    EXPECT_EQ(calls, 1);
    mLog.Clear();
    Steps(4);
    EXPECT_TRUE(mLog.Lines().empty());
}

TEST_F(ModemStateMachineTest, EcmReconfigurationUsesOneRecovery)
{
    EXPECT_CALL(*mModem, IsEcmMode).WillOnce(Gives(false)).WillRepeatedly(Gives(true));
    EXPECT_CALL(*mModem, ConfigureEcm()).WillOnce(Return(EAtResult::Ok));
    int calls = 0;
    int disabled = 0; // the recovery's way back to Disabled is no arrival there
    Target(EModemState::Disabled, [&disabled](bool) { ++disabled; });
    Target(EModemState::Enabled, [&calls](bool) { ++calls; });
    Steps(14);
    EXPECT_EQ(Transitions(), (Lines {"Disabled>Initializing", "Initializing>Error", "Error>Disabled",
                                     "Disabled>Initializing", "Initializing>Initialized", "Initialized>Enabling",
                                     "Enabling>Enabled"}));
    EXPECT_EQ(mLog.Count("Modem recovery reset attempt 1/3"), 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(disabled, 0);
    EXPECT_EQ(mPulses, 3); // on; off by the recovery, waiting for the device to go; on again
}

TEST_F(ModemStateMachineTest, WrongPinStopsAndLaterTargetsAreRefused)
{
    ON_CALL(*mModem, UnlockSim()).WillByDefault(Return(EAtResult::SimError));
    Target(EModemState::Enabled);
    Steps(10);
    EXPECT_TRUE(mLog.Contains(Log::error, "Modem fatal error, cannot continue"));
    EXPECT_EQ(mPulses, 1);
    EXPECT_THAT(mRaised, ::testing::ElementsAre(0x2841, 0x2842)); // PIN warning, then fatal error
    mRaised.clear();
    Target(EModemState::Enabled);
    Target(EModemState::Disabled);
    Steps(4);
    EXPECT_TRUE(mLog.Contains(Log::error, "Modem in fatal error state, cannot change target state to Enabled"));
    EXPECT_TRUE(mLog.Contains(Log::error, "Modem in fatal error state, cannot change target state to Disabled"));
    EXPECT_THAT(mRaised, ::testing::UnorderedElementsAre(0x2841, 0x2842)); // re-sent, then cleared
    EXPECT_EQ(Transitions().back(), "Enabling>Error");
    // The PIN corrected, the machine is resumed and reaches its target.
    ON_CALL(*mModem, UnlockSim()).WillByDefault(Return(EAtResult::Ok));
    EXPECT_TRUE(mMachine->Resume());
    EXPECT_FALSE(mMachine->Resume());
    Target(EModemState::Enabled);
    Steps(20);
    EXPECT_EQ(Transitions().back(), "Enabling>Enabled");
}

TEST_F(ModemStateMachineTest, FourFailuresGiveThreeResetsThenFatalStop)
{
    ON_CALL(*mModem, GetImei).WillByDefault(Return(EAtResult::Error));
    Target(EModemState::Enabled);
    Steps(40);
    EXPECT_EQ(mLog.Count("Modem could not read IMEI"), 4u);
    for (const char* attempt : {"1/3", "2/3", "3/3"}) {
        EXPECT_EQ(mLog.Count(std::string("Modem recovery reset attempt ") + attempt), 1u) << attempt;
    }
    EXPECT_EQ(mLog.Count("Modem fatal error, cannot continue"), 1u);
    EXPECT_EQ(mPulses, 1 + 3 + 3);
}

// The serial device never appears on power-on, or never goes on power-off.
TEST_F(ModemStateMachineTest, PowerSupervision)
{
    for (const bool appears : {false, true}) {
        SCOPED_TRACE(appears ? "serial never goes" : "serial never appears");
        mLog.Clear();
        mPowered = false;
        mPulses = 0;
        ON_CALL(*mModem, TogglePower()).WillByDefault([this, appears] {
            ++mPulses;
            mPowered = appears; // on for good, or never on
        });
        MakeMachine();
        Target(appears ? EModemState::Initialized : EModemState::Enabled);
        Steps(130);
        if (appears) {
            Target(EModemState::Disabled);
            Steps(130);
        }
        const char* error = appears ? "Modem powered down twice but serial still present after timeout"
                                    : "Modem powered up but serial not present after timeout (30000ms)";
        EXPECT_TRUE(mLog.Contains(Log::error, error));
        EXPECT_TRUE(mLog.Contains(Log::error, "Modem fatal error, cannot continue"));
        // A device that never appears costs two pulses: the modem may have
        // been on without it.
        EXPECT_EQ(mLog.Count("Serial not present yet after modem power up, waiting one cycle..."),
                  appears ? 0u : 121u);
        EXPECT_EQ(mPulses, appears ? 3 : 2);
    }
}

// A switch-off during the power-up waits for the booting modem's device and
// switches it off; it is not taken for a modem that is already off.
TEST_F(ModemStateMachineTest, DisabledWhileInitializingSwitchesTheBootingModemOff)
{
    mEnumeration = 5s;
    int disabled = 0;
    Target(EModemState::Enabled);
    Steps(3);
    Target(EModemState::Disabled, [&disabled](bool) { ++disabled; });
    Steps(20);
    EXPECT_EQ(Transitions(), (Lines {"Disabled>Initializing", "Initializing>Disabling", "Disabling>Disabled"}));
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(mPulses, 2);
    EXPECT_FALSE(mPowered);
}

// A modem found on is used as it is. Without its device the modem is off, or
// on without it: the recovery does not pulse, the power-up pulses once and
// gives the device its time to appear before it pulses again.
TEST_F(ModemStateMachineTest, PowerKeyIsPulsedOnlyToReachTheStateWanted)
{
    const struct {
        const char* name;
        bool deviceLost; // on without its device; otherwise switched itself off
        IClock::duration enumeration;
        int pulses;
    } cases[] = {{"switched itself off", false, 5s, 1}, {"device late", false, 25s, 1}, {"device lost", true, 2s, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mPowered = true;
        mPulses = 0;
        MakeMachine();
        int enabled = 0;
        Target(EModemState::Enabled, [&enabled](bool) { ++enabled; });
        Steps(10);
        ASSERT_EQ(mPulses, 0);
        mEnumeration = c.enumeration;
        (c.deviceLost ? mDeviceLost : mPowered) = c.deviceLost;
        Target(EModemState::Error);
        Steps(150);
        EXPECT_EQ(enabled, 2);
        EXPECT_EQ(mPulses, c.pulses);
        EXPECT_FALSE(mLog.ContainsSubstring("Modem fatal error"));
    }
}

// A switch-off while the modem is enabled closes the channel, which ends a
// command in flight at once (a data context's activation may take 151 s),
// stops the procedure before its next command, and is no failure to recover
// from: the modem is not reported enabled.
TEST_F(ModemStateMachineTest, SwitchOffEndsEnablingAtTheCommandInFlight)
{
    for (const bool lastCommand : {false, true}) {
        SCOPED_TRACE(lastCommand ? "during the activation" : "during the bands");
        mLog.Clear();
        std::atomic<bool> closed {false};
        ON_CALL(*mModem, CloseSerial()).WillByDefault([&closed] { closed.store(true); });
        const auto inFlight = [this, &closed] {
            mMachine->SetTargetState(EModemState::Disabled, {}); // arrives while this command is in flight
            return closed ? EAtResult::SerialError : EAtResult::Timeout;
        };
        ON_CALL(*mModem, SetAvailableBands()).WillByDefault(inFlight);
        if (lastCommand) {
            ON_CALL(*mModem, SetAvailableBands()).WillByDefault(Return(EAtResult::Ok));
            ON_CALL(*mModem, ActivatePdpContext()).WillByDefault(inFlight);
        }
        EXPECT_CALL(*mModem, SetApn).Times(lastCommand ? 1 : 0);
        EXPECT_CALL(*mModem, SetSmsTextMode()).Times(0);
        MakeMachine();
        int enabled = 0;
        Target(EModemState::Enabled, [&enabled](bool) { ++enabled; });
        Steps(10);
        EXPECT_TRUE(closed);
        EXPECT_EQ(enabled, 0);
        EXPECT_EQ(Transitions(), (Lines {"Disabled>Initializing", "Initializing>Initialized", "Initialized>Enabling",
                                         "Enabling>Disabling", "Disabling>Disabled"}));
        EXPECT_FALSE(mPowered);
        EXPECT_FALSE(mLog.ContainsSubstring("Modem recovery reset attempt"));
    }
}

} // namespace
