#include "src/components/handlers/tarvltehandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/components/mocks/handlerfixture.h"

#include <utility>

using namespace std::chrono_literals;
using namespace HandlerMocks;
using Modem::ERegistrationState;
using namespace ::testing;

namespace {

class CMockStateMachine : public IModemStateMachine {
public:
    MOCK_METHOD(void, SetTargetState, (EModemState target, Callback callback), (override));
    MOCK_METHOD(bool, Resume, (), (override));
};

class CRebootCounter : public IBoardControl {
public:
    bool RebootRequest() override { return ++requests, accept && ++reboots; }
    bool accept = true; // the board controller runs and takes requests
    int requests = 0;
    int reboots = 0;
};

class LteHandlerTest : public CHandlerFixture<NiceMock> {
protected:
    LteHandlerTest()
    {
        config->bools[HwHasLte] = true;
        config->strings[TarvSmsPassword] = "s3cret";
        // The modem answers from the fields below, read on the handler's worker
        // only between the test's Sync calls.
        const auto give = [](auto& out, auto value) { return out = value, EAtResult::Ok; };
        ON_CALL(*mModem, SoftResetModem()).WillByDefault([this] {
            mSoftResets.push_back(std::chrono::duration_cast<std::chrono::minutes>(clock->Now() - mStart).count());
            return EAtResult::Ok;
        });
        ON_CALL(*mModem, GetPdpContext).WillByDefault([this, give](Modem::PdpContext& c) { return give(c, mContext); });
        ON_CALL(*mModem, GetImei).WillByDefault([give](std::string& v) { return give(v, "860000000000001"); });
        ON_CALL(*mModem, DeleteReadSmsMsgs()).WillByDefault([this] { return mSms.clear(), ++mSmsDeletes, EAtResult::Ok; });
        ON_CALL(*mModem, TakeEvents()).WillByDefault([this] { return std::exchange(mEvents, {}); });
        ON_CALL(*mModem, ActivatePdpContext()).WillByDefault([this] {
            mActivations.push_back(std::chrono::duration_cast<std::chrono::seconds>(clock->Now() - mStart).count());
            return EAtResult::Error;
        });
        ON_CALL(*mModem, GetSmsMsg).WillByDefault([this, give](auto& m) { return give(m, mSms); });
        ON_CALL(*mModem, GetDnsServers).WillByDefault([this, give](auto& s) { return give(s, mDnsServers); });
        ON_CALL(*mModem, GetLteRegistrationStatus).WillByDefault([this](auto& s) { return s = mLteState, mLteResult; });
        ON_CALL(*mModem, GetEgprsRegistrationStatus).WillByDefault([give](auto& s) {
            return give(s, ERegistrationState::Searching);
        });
        ON_CALL(*mModem, GetSignalInfo).WillByDefault([](Modem::SignalInfo& i) {
            return i.technology = "eMTC", i.rssi = -70, EAtResult::Ok;
        });
        ON_CALL(*mModem, GetCarrier).WillByDefault([give](std::string& c) { return give(c, "Carrier"); });
        ON_CALL(*mModem, GetApnSettings()).WillByDefault(Return(Modem::ApnSettings{}));
        ON_CALL(*mModem, IsSmsEnabled()).WillByDefault(Return(true));
        ON_CALL(*errorHandler, DoesIfExist).WillByDefault(Return(true));
        ON_CALL(*mDns, SetDnsServers).WillByDefault([this](const std::vector<std::string>& servers) {
            mResolverWrites.push_back(servers);
            return true;
        });
        // A withdrawal shows as an empty write.
        ON_CALL(*mDns, ClearDnsServers).WillByDefault([this] {
            mResolverWrites.emplace_back();
            return true;
        });
        ON_CALL(*runner, Run).WillByDefault([this](const std::string& command, unsigned) {
            mCommands.push_back(command);
            return SCommandResult{0, ""};
        });
        // The machine records the targets and keeps the callback; the test plays the machine.
        auto machine = std::make_unique<NiceMock<CMockStateMachine>>();
        ON_CALL(*machine, SetTargetState).WillByDefault([this](EModemState target, const auto& callback) {
            mTargets.push_back(target);
            mArrived = target == EModemState::Enabled && callback ? callback : mArrived;
        });
        mMachine = machine.get();
        SHandlerParts parts = Parts();
        parts.lteDnsManager = mDns;
        parts.boardControl = mBoard;
        mLte = std::make_unique<CTarvLteHandler>(parts, mModem, std::move(machine));
        bool ok = true;
        mLte->Enable(ok);
        mArrived(true); // the modem arrived in Enabled
        mLte->Sync();            // the first update runs at once
    }
    // Runs the 2-second updates for the given time, a minute per step when long.
    void Pass(std::chrono::seconds time, std::chrono::seconds step = CTarvLteHandler::kUpdatePeriod)
    {
        for (auto passed = 0s; passed < time; passed += step) {
            clock->Advance(step);
            mLte->GetStatus(); // any call from outside while the worker runs
            mLte->Sync();
        }
    }
    std::size_t Count(const std::string& command) const
    {
        return std::count(mCommands.begin(), mCommands.end(), command);
    }

    std::shared_ptr<NiceMock<MockDnsManager>> mDns = std::make_shared<NiceMock<MockDnsManager>>();
    std::shared_ptr<NiceMock<ModemTest::CMockModem>> mModem = std::make_shared<NiceMock<ModemTest::CMockModem>>();
    IClock::time_point mStart = clock->Now();
    ERegistrationState mLteState = ERegistrationState::RegisteredHome;
    EAtResult mLteResult = EAtResult::Ok;
    unsigned mTimeouts = 0; // the AT channel's count of unanswered commands in a row
    Modem::PdpContext mContext{true, "IPv4", "10.1.2.3"};
    std::vector<std::string> mDnsServers{"10.0.0.53", "10.0.0.54"};
    std::vector<std::string> mSms;
    std::vector<long> mSoftResets; // minutes since start
    std::vector<long> mActivations; // seconds since start
    Modem::SModemEvents mEvents;
    int mSmsDeletes = 0;
    std::shared_ptr<CRebootCounter> mBoard = std::make_shared<CRebootCounter>();
    std::vector<std::string> mCommands;
    std::vector<std::vector<std::string>> mResolverWrites;
    std::vector<EModemState> mTargets;
    IModemStateMachine::Callback mArrived;
    NiceMock<CMockStateMachine>* mMachine = nullptr; // owned by mLte
    std::unique_ptr<CTarvLteHandler> mLte;
};

} // namespace

TEST_F(LteHandlerTest, AStoppedModemResumesOnceItsSettingsAreValid)
{
    // APN valid, PIN, Resume called, the targets set
    const std::tuple<bool, std::string, bool, std::vector<EModemState>> cases[] = {
        {false, "1234", false, {}}, {true, "12a4", false, {}}, {true, "", true, {EModemState::Enabled}}};
    for (const auto& [apnValid, pin, resumed, targets] : cases) {
        const auto apn = apnValid ? std::optional(Modem::ApnSettings{}) : std::nullopt;
        ON_CALL(*mModem, GetApnSettings()).WillByDefault(Return(apn));
        config->strings[TarvLteSimPin] = pin;
        EXPECT_CALL(*mMachine, Resume()).Times(resumed ? 1 : 0).WillRepeatedly(Return(true));
        mTargets.clear();
        bool ok = true;
        mLte->UpdateModemSettings(ok);
        EXPECT_EQ(ok, resumed) << pin;
        EXPECT_EQ(mTargets, targets) << pin;
    }
}

// A denial that persists is retried after 11, 22, 44 ... minutes, capped at
// 1408; an accepted registration resets the back-off to 11 minutes.
TEST_F(LteHandlerTest, DeniedRegistrationIsRetriedWithAGrowingBackOff)
{
    mLteState = ERegistrationState::Denied;
    Pass(95h, 60s);
    // Minutes from the denial seen (at most one step after a retry) to the next retry.
    const std::vector<long> backOff = {11, 22, 44, 88, 176, 352, 704, 1408, 1408, 1408};
    ASSERT_GE(mSoftResets.size(), backOff.size());
    for (std::size_t i = 0; i < backOff.size(); ++i) {
        const long gap = mSoftResets[i] - (i == 0 ? 0 : mSoftResets[i - 1]);
        EXPECT_TRUE(gap == backOff[i] || gap == backOff[i] + 1) << "retry " << i << " after " << gap;
    }
    mLteState = ERegistrationState::RegisteredHome;
    Pass(60s, 60s);
    const auto before = mSoftResets.size();
    mLteState = ERegistrationState::Denied;
    Pass(10 * 60s, 60s);
    EXPECT_EQ(mSoftResets.size(), before);
    Pass(2 * 60s, 60s);
    EXPECT_EQ(mSoftResets.size(), before + 1);
}

// A mute modem (the channel counts both queries of a check as unanswered) is
// recovered at its fifth registration check; an answer in between starts the
// count again.
TEST_F(LteHandlerTest, RegistrationTimeoutsTriggerRecovery)
{
    ON_CALL(*mModem, ConsecutiveTimeouts()).WillByDefault([this] { return mTimeouts; });
    const std::vector<EAtResult> answers = {EAtResult::Timeout, EAtResult::Timeout, EAtResult::Timeout,
                                            EAtResult::Timeout, EAtResult::Ok,      EAtResult::Timeout,
                                            EAtResult::Timeout, EAtResult::Timeout, EAtResult::Timeout};
    for (const EAtResult answer : answers) {
        mLteResult = answer;
        mTimeouts = answer == EAtResult::Timeout ? mTimeouts + 2 : 0;
        Pass(2s);
    }
    EXPECT_EQ(std::count(mTargets.begin(), mTargets.end(), EModemState::Error), 0);
    mTimeouts += 2;
    Pass(2s);
    EXPECT_EQ(std::count(mTargets.begin(), mTargets.end(), EModemState::Error), 1);
    Pass(10s); // no updates while the modem recovers
    EXPECT_EQ(std::count(mTargets.begin(), mTargets.end(), EModemState::Error), 1);
}

// lte0 follows the data context: one ifdown when it is lost, one ifup when
// it is back. The network's servers (one or two) follow it into the resolver
// and leave it with the connection.
TEST_F(LteHandlerTest, InterfaceAndResolverFollowTheDataContext)
{
    Pass(4s);
    EXPECT_EQ(Count("ifup lte0"), 2U); // the enable, then the connection
    auto status = mLte->GetStatus();
    EXPECT_EQ(status.properties().ipaddress() + " " + status.lteinfo().carrier(), "10.1.2.3 Carrier");

    // A healthy context is checked again every 5 minutes.
    mContext.active = false;
    Pass(CTarvLteHandler::kRereadInterval + 4s);
    mContext.active = true;
    mDnsServers = {"10.9.9.9", "not-an-address"};
    Pass(4s);
    EXPECT_EQ(Count("ifdown lte0"), 1U);
    EXPECT_EQ(Count("ifup lte0"), 3U);
    status = mLte->GetStatus();
    EXPECT_EQ(status.dns().primarydns() + "|" + status.dns().secondarydns(), "10.9.9.9|"); // no placeholder

    // Disconnected: identity only.
    mLteState = ERegistrationState::Searching;
    Pass(2s);
    status = mLte->GetStatus();
    EXPECT_EQ(status.connectionstate(), ipc::MNetStatus::EDisconnected);
    EXPECT_EQ(status.lteinfo().imei() + status.lteinfo().carrier(), "860000000000001");
    EXPECT_FALSE(status.has_properties() || status.has_dns() || status.has_signalstrength());
    const std::vector<std::string> none;
    EXPECT_EQ(mResolverWrites, (std::vector<std::vector<std::string>>{
                                   {"192.168.225.1", "10.0.0.53", "10.0.0.54"},
                                   none, // the context lost
                                   {"192.168.225.1", "10.9.9.9"},
                                   none})); // disconnected
}

// Only "reboot " + the password (trailing white space ignored) reboots,
// once; the password never shows in the log.
TEST_F(LteHandlerTest, SmsRebootNeedsTheExactPasswordAndHappensOnce)
{
    // the password, the messages, the reboots so far
    const std::tuple<std::string, std::vector<std::string>, int> cases[] = {
        {"s3cret", {"hello\x01world", "REBOOT s3cret", "reboot S3cret", "reboot s3cret now", "reboot s3cret0"}, 0},
        {"", {"reboot "}, 0},
        {"s3cret", {"reboot s3cret\r\n"}, 1},
        {"s3cret", {"reboot s3cret"}, 1}, // a reboot is already under way
    };
    for (const auto& [password, sms, reboots] : cases) {
        config->strings[TarvSmsPassword] = password;
        mSms = sms;
        Pass(2s);
        EXPECT_EQ(mBoard->reboots, reboots) << sms.front();
    }
    EXPECT_EQ(mSmsDeletes, 3);
    EXPECT_TRUE(log.Contains("SMS received but reboot request rejected: \"hello\\x01world\" "));
    EXPECT_FALSE(log.ContainsSubstring("S3cret"));
}

// The registration read on every update goes out when it changed; unchanged,
// only once the hour has passed.
TEST_F(LteHandlerTest, RegistrationIsSentWhenItChanges)
{
    std::vector<std::string> sent;
    CDiagnosticsCommClient::SetSink([&sent](const CDiagnosticsCommClient::SSample& sample) {
        if (sample.identifier == Signals::kLteRegistrationState.GetIdentifier()) {
            sent.push_back(std::get<std::string>(sample.value));
        }
        return true;
    });
    mLteState = ERegistrationState::Searching;
    Pass(10s);
    mLteState = ERegistrationState::RegisteredHome;
    Pass(62min, 60s);
    CDiagnosticsCommClient::SetSink(nullptr);
    EXPECT_EQ(sent, (std::vector<std::string>{"Not registered: Scanning", "Registered", "Registered"}));
}

// While activation is refused, the waits between tries grow to 150 s.
TEST_F(LteHandlerTest, DataContextBackOffGrows)
{
    mContext.active = false;
    mEvents.contextLost = true;
    Pass(700s);
    const std::vector<long> waits = {15, 30, 60, 120, 150, 150};
    ASSERT_GT(mActivations.size(), waits.size());
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const long gap = mActivations[i + 1] - mActivations[i];
        EXPECT_TRUE(gap > waits[i] && gap <= waits[i] + 2) << "wait " << i << ": " << gap;
    }
}

// LTE off switches the modem off whatever lte0's state, and the status says
// disconnected at once.
TEST_F(LteHandlerTest, DisableSwitchesTheModemOffAndReportsDisconnected)
{
    for (const bool exists : {true, false}) {
        SCOPED_TRACE(exists);
        ON_CALL(*errorHandler, DoesIfExist).WillByDefault(Return(exists));
        bool ok = true;
        mLte->Enable(ok);
        mArrived(true);
        Pass(2s);
        mTargets.clear();
        try {
            mLte->Disable(ok);
        } catch (const CTarvException&) {
            // lte0 did not report down here; the modem is switched off all the same
        }
        EXPECT_EQ(mTargets, std::vector<EModemState> {EModemState::Disabled});
        ON_CALL(*errorHandler, DoesIfExist).WillByDefault(Return(true));
        EXPECT_EQ(mLte->GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
        const auto ups = Count("ifup lte0");
        mArrived(true); // a late arrival in Enabled does not bring lte0 up
        Pass(6s);
        EXPECT_EQ(Count("ifup lte0"), ups);
    }
}

// A disable while a pass waits on the modem: the serial error that the
// switch-off causes starts no recovery.
TEST_F(LteHandlerTest, SerialLostByADisableStartsNoRecovery)
{
    bool disabled = false;
    ON_CALL(*mModem, GetLteRegistrationStatus).WillByDefault([this, &disabled](auto&) {
        if (!std::exchange(disabled, true)) {
            bool ok = true;
            try {
                mLte->Disable(ok);
            } catch (const CTarvException&) {
                // lte0 did not report down here
            }
        }
        return EAtResult::SerialError;
    });
    mTargets.clear();
    Pass(2s);
    EXPECT_EQ(mTargets, std::vector<EModemState> {EModemState::Disabled});
}

// An authorised SMS while the board controller does not run: the request is
// repeated on every update and given up after its limit, when the SMS is
// deleted; a later SMS is tried afresh and deleted once the request is taken.
// Each failing SMS is logged once.
TEST_F(LteHandlerTest, RebootRequestIsRepeatedUntilTakenOrGivenUp)
{
    mBoard->accept = false;
    mSms = {"reboot s3cret"};
    Pass(CTarvLteHandler::kRebootRequestLimit + 4s);
    EXPECT_EQ(mSmsDeletes, 1);
    EXPECT_EQ(log.Count("SMS reboot: the board controller did not take the reboot request within 10 minutes, given up"),
              1U);
    mSms = {"reboot s3cret"};
    const int requests = mBoard->requests;
    Pass(20s);
    EXPECT_EQ(mBoard->requests - requests, 10);
    EXPECT_EQ(mSmsDeletes, 1);
    mBoard->accept = true;
    Pass(2s);
    EXPECT_EQ(mBoard->reboots, 1);
    EXPECT_EQ(mSmsDeletes, 2);
    EXPECT_EQ(log.Count("Reboot request to the board controller failed, asking again on every update"), 2U);
}

// What the modem reports on its own is acted on in the next pass: a lost
// context takes lte0 down at once, a module that restarted is recovered.
// A recovery ends the pass: one ifdown, no further modem command.
TEST_F(LteHandlerTest, ModemEventsAreActedOnAndARecoveryEndsThePass)
{
    Pass(4s);
    mContext.active = false;
    mEvents.contextLost = true;
    Pass(2s);
    EXPECT_EQ(Count("ifdown lte0"), 1U);
    mContext.active = true;
    Pass(2s);
    mEvents.restarted = true;
    EXPECT_CALL(*mModem, GetTemperatures).Times(0);
    Pass(2s);
    EXPECT_EQ(Count("ifdown lte0"), 2U);
    EXPECT_EQ(mTargets.back(), EModemState::Error);
    mLteResult = EAtResult::SerialError;
    mArrived(true); // back in Enabled, serial lost at once
    Pass(2s);
    EXPECT_EQ(Count("ifdown lte0"), 3U);
    EXPECT_EQ(std::count(mTargets.begin(), mTargets.end(), EModemState::Error), 2);
}

// SMS set-up that failed while enabling is tried again on the next update.
TEST_F(LteHandlerTest, SmsSetUpIsRetried)
{
    ON_CALL(*mModem, IsSmsEnabled()).WillByDefault(Return(false));
    EXPECT_CALL(*mModem, SetSmsTextMode()).Times(2).WillRepeatedly(Return(EAtResult::Error));
    Pass(4s);
}
