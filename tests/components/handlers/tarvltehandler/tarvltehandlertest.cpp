#include "src/components/handlers/tarvltehandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/components/mocks/handlerfixture.h"

using namespace std::chrono_literals;
using namespace HandlerMocks;
using Modem::ERegistrationState;
using testing::NiceMock;
using testing::Return;

namespace {

class CMockStateMachine : public IModemStateMachine {
public:
    MOCK_METHOD(void, SetTargetState, (EModemState target, Callback callback), (override));
};

class CRebootCounter : public IBoardControl {
public:
    bool RebootRequest() override { return ++reboots, true; }
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
        ON_CALL(*mModem, ActivatePdpContext()).WillByDefault(Return(EAtResult::Error));
        ON_CALL(*mModem, GetImei).WillByDefault([give](std::string& v) { return give(v, "860000000000001"); });
        ON_CALL(*mModem, DeleteSmsMsgs()).WillByDefault([this] { return mSms.clear(), ++mSmsDeletes, EAtResult::Ok; });
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
            mArrived = callback ? callback : mArrived;
        });
        mLte = std::make_unique<CTarvLteHandler>(config, runner, errorHandler, netlink, mModem, std::move(machine), mDns,
                                                 mBoard, clock);
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
    Modem::PdpContext mContext{true, "IPv4", "10.1.2.3"};
    std::vector<std::string> mDnsServers{"10.0.0.53", "10.0.0.54"};
    std::vector<std::string> mSms;
    std::vector<long> mSoftResets; // minutes since start
    int mSmsDeletes = 0;
    std::shared_ptr<CRebootCounter> mBoard = std::make_shared<CRebootCounter>();
    std::vector<std::string> mCommands;
    std::vector<std::vector<std::string>> mResolverWrites;
    std::vector<EModemState> mTargets;
    IModemStateMachine::Callback mArrived;
    std::unique_ptr<CTarvLteHandler> mLte;
};

} // namespace

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

// Five registration time-outs in a row trigger one recovery; a success in
// between starts the count again.
TEST_F(LteHandlerTest, RegistrationTimeoutsTriggerRecovery)
{
    const std::vector<EAtResult> answers = {EAtResult::Timeout, EAtResult::Timeout, EAtResult::Timeout,
                                            EAtResult::Timeout, EAtResult::Ok,      EAtResult::Timeout,
                                            EAtResult::Timeout, EAtResult::Timeout, EAtResult::Timeout};
    for (const EAtResult answer : answers) {
        mLteResult = answer;
        Pass(2s);
    }
    EXPECT_EQ(std::count(mTargets.begin(), mTargets.end(), EModemState::Error), 0);
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
    struct SCase {
        std::string password;
        std::vector<std::string> sms;
        int reboots; // total so far
    };
    const SCase cases[] = {
        {"s3cret", {"hello\x01world", "REBOOT s3cret", "reboot S3cret"}, 0},
        {"", {"reboot "}, 0},
        {"s3cret", {"reboot s3cret\r\n"}, 1},
        {"s3cret", {"reboot s3cret"}, 1}, // a reboot is already under way
    };
    for (const auto& c : cases) {
        config->strings[TarvSmsPassword] = c.password;
        mSms = c.sms;
        Pass(2s);
        EXPECT_EQ(mBoard->reboots, c.reboots);
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
