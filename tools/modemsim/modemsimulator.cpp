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
    , mDeviceMissingPowerOns(scenario.deviceMissingPowerOns)
    , mPowerOnMs(scenario.powerOnMs)
    , mAppReadyMs(scenario.appReadyMs)
    , mPowerOffMs(scenario.powerOffMs)
{
    if (!(mOptions.timeScale > 0) || !std::isfinite(mOptions.timeScale)) {
        throw std::invalid_argument("modem simulator: the time scale must be positive");
    }
    for (const auto& fault : scenario.faults) {
        mFaults.push_back({fault});
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
    if (!mPending.empty() && (!next || mPending.front().due < *next)) {
        next = mPending.front().due;
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
            fds[2].events = static_cast<short>(POLLIN | (mOutput.empty() ? 0 : POLLOUT));
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
            mInput.clear();
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
    MovePendingOutput(now);
}

void CModemSimulator::MovePendingOutput(IClock::time_point now)
{
    while (!mPending.empty() && mPending.front().due <= now) {
        if (mOutput.size() + mPending.front().bytes.size() > kMaxPendingOutput) {
            Log("output not read by the daemon, dropping " + std::to_string(mPending.front().bytes.size()) + " bytes");
        } else {
            mOutput += mPending.front().bytes;
        }
        mPending.erase(mPending.begin());
    }
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
    mInput.clear();
    mInputOverflow = false;
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
    mPending.clear();
    mOutput.clear();
    mInput.clear();
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
    auto due = mClock->Now() + delay;
    // Answers keep their order: nothing overtakes a delayed one.
    if (!mPending.empty() && mPending.back().due > due) {
        due = mPending.back().due;
    }
    mPending.push_back({due, std::move(bytes)});
    MovePendingOutput(mClock->Now());
}

void CModemSimulator::FlushOutput()
{
    if (mPty && !mOutput.empty()) {
        mOutput.erase(0, mPty->Write(mOutput));
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
            mOutput += c;
        }
        if (c == '\r') {
            std::string line;
            line.swap(mInput);
            if (mInputOverflow) {
                mInputOverflow = false;
                Log("command line longer than " + std::to_string(kMaxCommandLength) + " bytes refused");
                Queue(Framed("ERROR"));
            } else if (!line.empty()) {
                OnCommand(line);
            }
            if (!mPty) {
                return; // the command made the device vanish
            }
        } else if (c == '\n' && mInput.empty()) {
            continue;
        } else if (mInput.size() >= kMaxCommandLength) {
            mInputOverflow = true;
            mInput.clear();
        } else if (!mInputOverflow) {
            mInput += c;
        }
    }
}

CModemSimulator::SActiveFault* CModemSimulator::MatchFault(const std::string& line)
{
    for (auto& active : mFaults) {
        const auto& f = active.fault;
        const bool match = f.prefix ? line.rfind(f.command, 0) == 0 : line == f.command;
        if (!match) {
            continue;
        }
        if (active.seen++ < f.skip || (f.times >= 0 && active.hits >= f.times)) {
            continue;
        }
        ++active.hits;
        return &active;
    }
    return nullptr;
}

void CModemSimulator::OnCommand(const std::string& line)
{
    const std::string shown = CModemCommandSet::Redact(line);
    mReceived.push_back(shown);
    mChanged.notify_all();

    using EKind = SModemFault::EKind;
    const SActiveFault* active = MatchFault(line);
    const auto kind = active ? std::optional<EKind>(active->fault.kind) : std::nullopt;
    const SModemFault* fault = active ? &active->fault : nullptr;

    auto answerText = [this, &line](bool withFinal, std::string& final) {
        const SModemAnswer answer = mCommands->Execute(line, ScenarioNow());
        std::string text;
        for (const auto& l : answer.lines) {
            text += Framed(l);
        }
        if (withFinal) {
            text += Framed(answer.final);
        }
        final = answer.final;
        return text;
    };

    std::string final;
    if (!kind && SimBusy(line)) {
        Queue(Framed("+CME ERROR: 14"));
        Log(shown + " -> +CME ERROR: 14 (SIM busy)");
        return;
    }
    if (!kind) {
        Queue(answerText(true, final));
        Log(shown + " -> " + final);
        return;
    }
    switch (*kind) {
    case EKind::Timeout:
        break;
    case EKind::Garbage:
        Queue((fault->text.empty() ? kGarbage : fault->text) + (fault->thenAnswer ? answerText(true, final) : ""));
        break;
    case EKind::Error:
        Queue(Framed("ERROR"));
        break;
    case EKind::CmeError:
        Queue(Framed("+CME ERROR: " + std::to_string(fault->cmeCode)));
        break;
    case EKind::Truncated:
        Queue(answerText(false, final));
        break;
    case EKind::Endless:
        Queue(std::string(fault->endlessBytes, 'X'));
        break;
    case EKind::Unsolicited: {
        SModemAnswer answer = mCommands->Execute(line, ScenarioNow());
        const auto at = std::min<std::size_t>(static_cast<std::size_t>(fault->position), answer.lines.size());
        answer.lines.insert(answer.lines.begin() + static_cast<std::ptrdiff_t>(at), fault->text);
        std::string text;
        for (const auto& l : answer.lines) {
            text += Framed(l);
        }
        final = answer.final;
        Queue(text + Framed(final));
        break;
    }
    case EKind::Delay:
        Queue(answerText(true, final), Scaled(fault->delayMs));
        break;
    case EKind::Vanish:
        DeviceDown(EPower::OnNoDevice);
        break;
    }
    static const char* const kNames[] = {"timeout", "garbage", "error", "cme-error", "truncated",
                                         "endless", "unsolicited", "delay", "vanish"};
    Log(shown + " -> injected " + kNames[static_cast<int>(*kind)] + (final.empty() ? "" : ", " + final));
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

bool CModemSimulator::WaitForDevice(bool present, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return (mPty != nullptr) == present; });
}

bool CModemSimulator::WaitForPower(EPower power, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return mPower == power; });
}

bool CModemSimulator::WaitForReady(std::chrono::milliseconds limit)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return mReady; });
}

bool CModemSimulator::WaitForCommands(std::size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return mReceived.size() >= count; });
}

void CModemSimulator::InjectFault(const SModemFault& fault)
{
    std::lock_guard lock(mMutex);
    mFaults.push_back({fault});
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

void CModemSimulator::VanishDevice()
{
    {
        std::lock_guard lock(mMutex);
        mVanishRequested = true;
    }
    Wake();
}

void CModemSimulator::SwitchOffByItself()
{
    {
        std::lock_guard lock(mMutex);
        mSelfOffRequested = true;
    }
    Wake();
}

void CModemSimulator::ResetKeepingDevice()
{
    {
        std::lock_guard lock(mMutex);
        mResetRequested = true;
    }
    Wake();
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
