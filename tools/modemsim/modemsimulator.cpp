#include "tools/modemsim/modemsimulator.h"

#include "tools/modemsim/gpiopulsewatch.h"
#include "tools/modemsim/modemcommandset.h"
#include "tools/modemsim/pseudoterminal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

const char* PowerName(CModemSimulator::EPower power)
{
    switch (power) {
    case CModemSimulator::EPower::Off:
        return "off";
    case CModemSimulator::EPower::Booting:
        return "booting";
    case CModemSimulator::EPower::On:
        return "on";
    case CModemSimulator::EPower::OnNoDevice:
        return "on without device";
    case CModemSimulator::EPower::ShuttingDown:
        return "shutting down";
    }
    return "unknown";
}

std::string Framed(const std::string& line)
{
    return "\r\n" + line + "\r\n";
}

// The answer as sent: each line framed, the final result line last.
std::string Rendered(const SModemAnswer& answer, bool withFinal)
{
    std::string text;
    for (const auto& line : answer.lines) {
        text += Framed(line);
    }
    return withFinal ? text + Framed(answer.final) : text;
}

// Bytes no modem sends as text: control characters, bytes above 0x7f, NUL.
const std::string kGarbage = std::string("\xff\xfe\x00\x81\x1b[2J\x7f", 9) + "\r\n#$%&\x01\x02\r\n";

SModemScenario ParseOrThrow(const std::string& json)
{
    std::string error;
    auto scenario = SModemScenario::Parse(json, error);
    if (!scenario) {
        throw std::invalid_argument("modem scenario: " + error);
    }
    return *scenario;
}

} // namespace

CModemSimulator::CModemSimulator(const std::string& scenarioJson, SOptions options)
    : CModemSimulator(ParseOrThrow(scenarioJson), std::move(options))
{
}

CModemSimulator::CModemSimulator(const SModemScenario& scenario, SOptions options)
    : mOptions(std::move(options))
    , mClock(mOptions.clock ? mOptions.clock : IClock::Steady())
    , mScenario(scenario)
    , mStart(mClock->Now())
    , mCommands(std::make_unique<CModemCommandSet>(scenario))
    , mInput(kMaxCommandLength)
    , mOutput(kMaxPendingOutput, [this](const std::string& line) { Log(line); })
    , mDeviceMissingPowerOns(scenario.deviceMissingPowerOns)
    , mPowerOnMs(scenario.powerOnMs)
    , mAppReadyMs(scenario.appReadyMs)
    , mPowerOffMs(scenario.powerOffMs)
{
    if (!(mOptions.timeScale > 0) || !std::isfinite(mOptions.timeScale)) {
        throw std::invalid_argument("modem simulator: the time scale must be positive");
    }
    for (const auto& fault : scenario.faults) {
        mFaults.Add(fault);
    }
    // A link left by an earlier run would show a powered modem.
    std::error_code ec;
    std::filesystem::create_directories(mOptions.root + "/dev", ec);
    std::filesystem::remove(DevicePath(), ec);
    mGpio = std::make_unique<CGpioPulseWatch>(mOptions.root, std::vector<int> {kPowerKeyGpio, kFastShutdownGpio});
    mWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mWakeFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    if (!mClock->IsRealTime()) {
        mClockListener = mClock->AddListener([this] { Wake(); });
    }
    mThread = std::thread([this] { Run(); });
}

CModemSimulator::~CModemSimulator()
{
    if (mClockListener != 0) {
        mClock->RemoveListener(mClockListener);
    }
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    Wake();
    mThread.join();
    std::error_code ec;
    std::filesystem::remove(DevicePath(), ec);
    mPty.reset();
    ::close(mWakeFd);
}

std::string CModemSimulator::DevicePath() const
{
    return mOptions.root + kDevicePath;
}

std::string CModemSimulator::PowerKeyPath() const
{
    return CGpioPulseWatch::ValuePath(mOptions.root, kPowerKeyGpio);
}

void CModemSimulator::Log(const std::string& line) const
{
    if (mOptions.log) {
        mOptions.log(line);
    } else {
        std::fprintf(stderr, "modemsim: %s\n", line.c_str());
    }
}

void CModemSimulator::Wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(mWakeFd, &one, sizeof one);
}

IClock::duration CModemSimulator::Scaled(std::int64_t scenarioMs) const
{
    return std::chrono::duration_cast<IClock::duration>(
        std::chrono::duration<double, std::milli>(static_cast<double>(scenarioMs) * mOptions.timeScale));
}

std::chrono::steady_clock::time_point CModemSimulator::ScenarioNow() const
{
    const std::chrono::duration<double> elapsed = mClock->Now() - mStart;
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(elapsed / mOptions.timeScale));
}

void CModemSimulator::SetPower(EPower power)
{
    if (power != mPower) {
        Log(std::string("power ") + PowerName(mPower) + " -> " + PowerName(power));
    }
    mPower = power;
    mChanged.notify_all();
}

int CModemSimulator::PollTimeoutMs() const
{
    std::optional<IClock::time_point> next = mDue;
    if (mSimReadyDue && (!next || *mSimReadyDue < *next)) {
        next = mSimReadyDue;
    }
    if (const auto output = mOutput.NextDue(); output && (!next || *output < *next)) {
        next = output;
    }
    if (!next) {
        return -1;
    }
    if (!mClock->IsRealTime()) {
        // A manual clock moves only through Advance(), which wakes us.
        return *next <= mClock->Now() ? 0 : -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - mClock->Now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60'000));
}

void CModemSimulator::Run()
{
    std::unique_lock lock(mMutex);
    while (!mStop) {
        pollfd fds[3] = {{mWakeFd, POLLIN, 0}, {mGpio->Fd(), POLLIN, 0}, {-1, 0, 0}};
        if (mPty) {
            fds[2].fd = mPty->MasterFd();
            fds[2].events = static_cast<short>(POLLIN | (mOutput.HasReady() ? POLLOUT : 0));
        }
        const int timeout = PollTimeoutMs();
        lock.unlock();
        const int ready = ::poll(fds, 3, timeout);
        const int pollErr = errno;
        lock.lock();
        if (ready < 0 && pollErr != EINTR) {
            Log("poll failed: " + std::generic_category().message(pollErr));
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(mWakeFd, &count, sizeof count);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            for (const int gpio : mGpio->TakePulses()) {
                OnPulse(gpio);
            }
        }
        RunRequests();
        RunTimers();
        if (mPty && fds[2].fd == mPty->MasterFd()) {
            if ((fds[2].revents & POLLIN) != 0) {
                OnInput(mPty->Read());
            } else if ((fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                // The terminal holds its own slave open, so this is not a
                // closed port; a terminal in this state would wake poll()
                // without end.
                Log("device hung up");
                DeviceDown(EPower::OnNoDevice);
            }
        }
        FlushOutput();
    }
}

void CModemSimulator::OnPulse(int gpio)
{
    const auto now = mClock->Now();
    if (gpio == kFastShutdownGpio) {
        if (!mCommands->FastShutdownEnabled() || mPower == EPower::Off) {
            Log("fast-shutdown pulse ignored");
            return;
        }
        Log("fast shutdown");
        DeviceDown(EPower::Off);
        return;
    }
    switch (mPower) {
    case EPower::Off:
        Log("power key: powering on");
        SetPower(EPower::Booting);
        mDue = now + Scaled(mPowerOnMs);
        break;
    case EPower::On:
        Log("power key: powering off");
        mReady = false;
        SetPower(EPower::ShuttingDown);
        mDue = now + Scaled(mPowerOffMs);
        break;
    case EPower::Booting:
    case EPower::OnNoDevice:
        Log("power key: off");
        DeviceDown(EPower::Off);
        break;
    case EPower::ShuttingDown:
        break;
    }
}

void CModemSimulator::RunRequests()
{
    if (mVanishRequested) {
        mVanishRequested = false;
        if (mPty) {
            Log("device vanishes");
            DeviceDown(EPower::OnNoDevice);
        }
    }
    if (mSelfOffRequested) {
        mSelfOffRequested = false;
        if (mPower != EPower::Off) {
            Log("switched itself off");
            DeviceDown(EPower::Off);
        }
    }
    if (mResetRequested) {
        mResetRequested = false;
        if (mPty) {
            Log("module reset, device kept");
            mCommands->PowerOn(ScenarioNow());
            mInput.DropLine();
            mReady = false;
            mSimReadyDue.reset();
            Queue(Framed("RDY"));
            mDue = mClock->Now() + Scaled(mScenario.appReadyMs);
        }
    }
}

bool CModemSimulator::SimBusy(const std::string& line)
{
    if (!mSimReadyDue) {
        return false;
    }
    for (const char* head : {"AT+CPIN", "AT+QCCID", "AT+CIMI", "AT+QPINC", "AT+CMG", "AT+CPMS"}) {
        if (line.rfind(head, 0) == 0) {
            return true;
        }
    }
    return false;
}

void CModemSimulator::RunTimers()
{
    const auto now = mClock->Now();
    if (mSimReadyDue && *mSimReadyDue <= now) {
        mSimReadyDue.reset();
        Queue(Framed("+CPIN: READY"));
        Log("SIM ready");
    }
    if (mDue && *mDue <= now) {
        mDue.reset();
        if (mPower == EPower::Booting) {
            if (mDeviceMissingPowerOns != 0) {
                mDeviceMissingPowerOns -= mDeviceMissingPowerOns > 0 ? 1 : 0;
                Log("booted, but the device does not appear");
                mCommands->PowerOn(ScenarioNow());
                SetPower(EPower::OnNoDevice);
            } else {
                DeviceUp();
            }
        } else if (mPower == EPower::On && !mReady) {
            mReady = true;
            Queue(Framed("APP RDY"));
            Log("APP RDY");
            if (mScenario.simReadyMs > 0) {
                mSimReadyDue = now + Scaled(mScenario.simReadyMs);
            }
            mChanged.notify_all();
        } else if (mPower == EPower::ShuttingDown) {
            DeviceDown(EPower::Off);
        }
    }
    mOutput.MoveDue(now);
}

void CModemSimulator::DeviceUp()
{
    try {
        mPty = std::make_unique<CPseudoTerminal>();
    } catch (const std::system_error& e) {
        Log(std::string("cannot create the device: ") + e.what());
        SetPower(EPower::OnNoDevice);
        return;
    }
    std::error_code ec;
    std::filesystem::remove(DevicePath(), ec);
    std::filesystem::create_symlink(mPty->SlavePath(), DevicePath(), ec);
    if (ec) {
        Log("cannot link " + DevicePath() + ": " + ec.message());
    }
    mCommands->PowerOn(ScenarioNow());
    mInput.Reset();
    mReady = false;
    mDue = mClock->Now() + Scaled(mAppReadyMs);
    Log("device " + DevicePath() + " -> " + mPty->SlavePath());
    SetPower(EPower::On);
}

void CModemSimulator::DeviceDown(EPower next)
{
    std::error_code ec;
    std::filesystem::remove(DevicePath(), ec);
    mPty.reset();
    mOutput.Clear();
    mInput.DropLine();
    mReady = false;
    mDue.reset();
    mSimReadyDue.reset();
    if (next == EPower::Off) {
        mCommands->PowerOff();
    }
    SetPower(next);
}

void CModemSimulator::Queue(std::string bytes, IClock::duration delay)
{
    const auto now = mClock->Now();
    mOutput.Queue(std::move(bytes), now + delay, now);
}

void CModemSimulator::FlushOutput()
{
    if (mPty) {
        mOutput.WriteTo(*mPty);
    }
}

void CModemSimulator::OnInput(const std::string& bytes)
{
    // A modem still starting up does not listen.
    if (!mReady) {
        return;
    }
    for (const char c : bytes) {
        if (mCommands->EchoOn()) {
            mOutput.Echo(c);
        }
        std::string line;
        const auto end = mInput.Take(c, line);
        if (end == CModemInput::EEnd::None) {
            continue;
        }
        if (end == CModemInput::EEnd::TooLong) {
            Log("command line longer than " + std::to_string(kMaxCommandLength) + " bytes refused");
            Queue(Framed("ERROR"));
        } else if (!line.empty()) {
            OnCommand(line);
        }
        if (!mPty) {
            return; // the command made the device vanish
        }
    }
}

void CModemSimulator::OnCommand(const std::string& line)
{
    const std::string shown = CModemCommandSet::Redact(line);
    mReceived.push_back(shown);
    mChanged.notify_all();

    const SModemFault* fault = mFaults.Match(line);
    if (!fault && SimBusy(line)) {
        Queue(Framed("+CME ERROR: 14"));
        Log(shown + " -> +CME ERROR: 14 (SIM busy)");
        return;
    }
    if (!fault) {
        const SModemAnswer answer = mCommands->Execute(line, ScenarioNow());
        Queue(Rendered(answer, true));
        Log(shown + " -> " + answer.final);
        return;
    }
    const std::string final = InjectInto(line, *fault);
    Log(shown + " -> injected " + CModemFaults::KindName(fault->kind) + (final.empty() ? "" : ", " + final));
}

std::string CModemSimulator::InjectInto(const std::string& line, const SModemFault& fault)
{
    using EKind = SModemFault::EKind;
    auto execute = [this, &line] { return mCommands->Execute(line, ScenarioNow()); };
    SModemAnswer answer;
    switch (fault.kind) {
    case EKind::Timeout:
        return {};
    case EKind::Garbage:
        if (fault.thenAnswer) {
            answer = execute();
        }
        Queue((fault.text.empty() ? kGarbage : fault.text) + (fault.thenAnswer ? Rendered(answer, true) : ""));
        return fault.thenAnswer ? answer.final : std::string();
    case EKind::Error:
        Queue(Framed("ERROR"));
        return {};
    case EKind::CmeError:
        Queue(Framed("+CME ERROR: " + std::to_string(fault.cmeCode)));
        return {};
    case EKind::Truncated:
        answer = execute();
        Queue(Rendered(answer, false));
        return answer.final;
    case EKind::Endless:
        Queue(std::string(fault.endlessBytes, 'X'));
        return {};
    case EKind::Unsolicited: {
        answer = execute();
        const auto at = std::min<std::size_t>(static_cast<std::size_t>(fault.position), answer.lines.size());
        answer.lines.insert(answer.lines.begin() + static_cast<std::ptrdiff_t>(at), fault.text);
        Queue(Rendered(answer, true));
        return answer.final;
    }
    case EKind::Delay:
        answer = execute();
        Queue(Rendered(answer, true), Scaled(fault.delayMs));
        return answer.final;
    case EKind::Vanish:
        DeviceDown(EPower::OnNoDevice);
        return {};
    }
    return {};
}

CModemSimulator::EPower CModemSimulator::Power() const
{
    std::lock_guard lock(mMutex);
    return mPower;
}

bool CModemSimulator::IsDevicePresent() const
{
    std::lock_guard lock(mMutex);
    return mPty != nullptr;
}

template <typename Predicate>
bool CModemSimulator::WaitUntil(std::chrono::milliseconds limit, Predicate done)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, done);
}

bool CModemSimulator::WaitForDevice(bool present, std::chrono::milliseconds limit)
{
    return WaitUntil(limit, [&] { return (mPty != nullptr) == present; });
}

bool CModemSimulator::WaitForPower(EPower power, std::chrono::milliseconds limit)
{
    return WaitUntil(limit, [&] { return mPower == power; });
}

bool CModemSimulator::WaitForReady(std::chrono::milliseconds limit)
{
    return WaitUntil(limit, [&] { return mReady; });
}

bool CModemSimulator::WaitForCommands(std::size_t count, std::chrono::milliseconds limit)
{
    return WaitUntil(limit, [&] { return mReceived.size() >= count; });
}

void CModemSimulator::InjectFault(const SModemFault& fault)
{
    std::lock_guard lock(mMutex);
    mFaults.Add(fault);
}

void CModemSimulator::AddSms(const SStoredSms& sms)
{
    std::lock_guard lock(mMutex);
    mCommands->AddSms(sms);
}

void CModemSimulator::SetDeviceMissingPowerOns(int count)
{
    std::lock_guard lock(mMutex);
    mDeviceMissingPowerOns = count;
}

void CModemSimulator::Request(bool CModemSimulator::*flag)
{
    {
        std::lock_guard lock(mMutex);
        this->*flag = true;
    }
    Wake();
}

void CModemSimulator::VanishDevice()
{
    Request(&CModemSimulator::mVanishRequested);
}

void CModemSimulator::SwitchOffByItself()
{
    Request(&CModemSimulator::mSelfOffRequested);
}

void CModemSimulator::ResetKeepingDevice()
{
    Request(&CModemSimulator::mResetRequested);
}

std::vector<std::string> CModemSimulator::Commands() const
{
    std::lock_guard lock(mMutex);
    return mReceived;
}

CSimCard::EState CModemSimulator::SimState() const
{
    std::lock_guard lock(mMutex);
    return mCommands->Sim().State();
}

int CModemSimulator::PinAttemptsLeft() const
{
    std::lock_guard lock(mMutex);
    return mCommands->Sim().PinAttemptsLeft();
}

void CModemSimulator::SetTiming(std::int64_t powerOnMs, std::int64_t appReadyMs, std::int64_t powerOffMs)
{
    std::lock_guard lock(mMutex);
    mPowerOnMs = powerOnMs;
    mAppReadyMs = appReadyMs;
    mPowerOffMs = powerOffMs;
}
