#include "platform/config/configwatcher.h"

#include "platform/log/log.h"
#include "platform/worker/iclock.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <optional>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace {

// IN_CREATE reports a name made in place (a hard link, a symbolic link, a
// directory, a FIFO). A file created empty and filled afterwards is read
// while still empty too; the source keeps its last good content until such
// a content has settled, and IN_CLOSE_WRITE brings the complete file.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE
                                     | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

// Whole milliseconds until a time point, rounded up so that a poll
// never wakes before it.
int CeilMs(IClock::duration left)
{
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

std::mutex gInstanceMutex;
std::weak_ptr<CConfigWatcher> gInstance; // guarded by gInstanceMutex

} // namespace

struct CConfigWatcher::SState {
    struct SEntry {
        std::string directory;
        std::string fileName;
        Callback callback;
        bool changed = false;    // inotify reported a change not yet delivered
        bool check = true;       // a check is due
        std::optional<std::chrono::steady_clock::time_point> checkAt; // a check due then (CheckAfter)
    };

    SState()
        : inotifyFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
        , wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (inotifyFd < 0) {
            TLOG_WARN("inotify unavailable ({}); config files are polled", std::strerror(errno));
        }
    }
    ~SState()
    {
        if (inotifyFd >= 0) {
            ::close(inotifyFd);
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
    SState(const SState&) = delete;
    SState& operator=(const SState&) = delete;

    void Wake() const
    {
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
        }
    }

    bool DirectoryUsedLocked(const std::string& directory) const
    {
        for (const auto& [id, entry] : entries) {
            if (entry.directory == directory) {
                return true;
            }
        }
        return false;
    }

    // Tries to watch every directory that has entries but no watch; the
    // entries of a directory whose watch starts get a check, since their
    // files may have changed while unwatched.
    void WatchDirectoriesLocked()
    {
        for (auto& [id, entry] : entries) {
            if (watches.contains(entry.directory)) {
                continue;
            }
            if (inotifyFd >= 0) {
                const int wd = ::inotify_add_watch(inotifyFd, entry.directory.c_str(), kWatchMask);
                if (wd >= 0) {
                    watches[entry.directory] = wd;
                    directories[wd] = entry.directory;
                    for (auto& [otherId, other] : entries) {
                        if (other.directory == entry.directory) {
                            other.check = true;
                        }
                    }
                }
            }
        }
    }

    bool AllWatchedLocked() const
    {
        for (const auto& [id, entry] : entries) {
            if (!watches.contains(entry.directory)) {
                return false;
            }
        }
        return true;
    }

    void DropWatchLocked(int wd)
    {
        const auto it = directories.find(wd);
        if (it == directories.end()) {
            return;
        }
        for (auto& [id, entry] : entries) {
            if (entry.directory == it->second) {
                entry.check = true;
            }
        }
        watches.erase(it->second);
        directories.erase(it);
    }

    void ReadEventsLocked()
    {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            for (ssize_t offset = 0; offset < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    // Events were lost: every file may have changed.
                    for (auto& [id, entry] : entries) {
                        entry.changed = true;
                    }
                    continue;
                }
                if (event->mask & (IN_IGNORED | IN_MOVE_SELF | IN_DELETE_SELF)) {
                    // The directory went away (or moved, so the watch no longer
                    // names the configured path): poll until it is back.
                    const auto it = directories.find(event->wd);
                    if (it != directories.end() && !(event->mask & IN_IGNORED)) {
                        ::inotify_rm_watch(inotifyFd, event->wd);
                    }
                    DropWatchLocked(event->wd);
                    continue;
                }
                const auto it = directories.find(event->wd);
                if (it == directories.end() || event->len == 0) {
                    continue;
                }
                const std::string name(event->name);
                for (auto& [id, entry] : entries) {
                    if (entry.directory == it->second && entry.fileName == name) {
                        entry.changed = true;
                    }
                }
            }
        }
    }

    // Turns the CheckAfter requests due at now into checks; returns when
    // the next one is due, and sets anyDue when a delivery is pending.
    std::optional<IClock::time_point> TakeDueChecksLocked(IClock::time_point now, bool& anyDue)
    {
        std::optional<IClock::time_point> nextCheck;
        for (auto& [id, entry] : entries) {
            if (entry.checkAt && *entry.checkAt <= now) {
                entry.checkAt.reset();
                entry.check = true;
            }
            if (entry.checkAt && (!nextCheck || *entry.checkAt < *nextCheck)) {
                nextCheck = entry.checkAt;
            }
            anyDue = anyDue || entry.changed || entry.check;
        }
        return nextCheck;
    }

    // The files of directories without a watch may have changed unseen.
    void CheckUnwatchedLocked()
    {
        for (auto& [id, entry] : entries) {
            if (!watches.contains(entry.directory)) {
                entry.check = true;
            }
        }
    }

    // Sleeps without the lock until a wake-up, an inotify event or the
    // time-out (-1: none).
    void WaitUnlocked(std::unique_lock<std::mutex>& lock, int timeoutMs) const
    {
        lock.unlock();
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}};
        const nfds_t count = inotifyFd >= 0 ? 2 : 1;
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            TLOG_ERROR("Config watcher: poll failed: {}", std::strerror(errno));
        }
        std::uint64_t wakeups = 0;
        [[maybe_unused]] const auto n = ::read(wakeFd, &wakeups, sizeof wakeups);
        lock.lock();
    }

    // Delivers, one entry at a time, without the lock: a callback may add
    // or remove entries.
    void DeliverLocked(std::unique_lock<std::mutex>& lock)
    {
        while (!stop) {
            int id = 0;
            bool changed = false;
            Callback callback;
            for (auto& [entryId, entry] : entries) {
                if (entry.changed || entry.check) {
                    id = entryId;
                    changed = entry.changed;
                    entry.changed = false;
                    entry.check = false;
                    callback = entry.callback;
                    break;
                }
            }
            if (id == 0) {
                return;
            }
            runningId = id;
            lock.unlock();
            callback(changed);
            callback = nullptr;
            lock.lock();
            runningId = 0;
            idle.notify_all();
        }
    }

    const int inotifyFd;
    const int wakeFd;

    mutable std::mutex mutex;
    std::condition_variable idle;                 // a callback returned
    std::map<int, SEntry> entries;                // guarded by mutex
    std::map<std::string, int> watches;           // guarded by mutex; directory -> watch descriptor
    std::map<int, std::string> directories;       // guarded by mutex; watch descriptor -> directory
    int nextId = 1;                               // guarded by mutex
    int runningId = 0;                            // guarded by mutex; entry whose callback runs
    bool stop = false;                            // guarded by mutex
    std::uint64_t syncRequested = 0;              // guarded by mutex; Sync calls so far
    std::uint64_t syncDone = 0;                   // guarded by mutex; Sync calls answered
    std::thread::id threadId;                     // set before the thread starts, then constant
};

std::shared_ptr<CConfigWatcher> CConfigWatcher::Instance()
{
    std::lock_guard lock(gInstanceMutex);
    auto watcher = gInstance.lock();
    if (!watcher) {
        watcher = std::make_shared<CConfigWatcher>();
        gInstance = watcher;
    }
    return watcher;
}

std::shared_ptr<CConfigWatcher> CConfigWatcher::Existing()
{
    std::lock_guard lock(gInstanceMutex);
    return gInstance.lock();
}

CConfigWatcher::CConfigWatcher()
    : mState(std::make_shared<SState>())
{
    std::lock_guard lock(mState->mutex);
    mThread = std::thread(&CConfigWatcher::Loop, mState);
    mState->threadId = mThread.get_id();
}

CConfigWatcher::~CConfigWatcher()
{
    {
        std::lock_guard lock(mState->mutex);
        mState->stop = true;
    }
    mState->Wake();
    if (mThread.get_id() == std::this_thread::get_id()) {
        mThread.detach();
    } else {
        mThread.join();
    }
}

int CConfigWatcher::Add(const std::string& directory, const std::string& fileName, Callback callback)
{
    std::lock_guard lock(mState->mutex);
    const int id = mState->nextId++;
    mState->entries[id] = SState::SEntry{directory, fileName, std::move(callback), false, true, std::nullopt};
    mState->WatchDirectoriesLocked();
    mState->Wake();
    return id;
}

void CConfigWatcher::Remove(int id)
{
    Callback callback; // destroyed after the lock is released
    std::unique_lock lock(mState->mutex);
    const auto it = mState->entries.find(id);
    if (it == mState->entries.end()) {
        return;
    }
    const std::string directory = it->second.directory;
    callback = std::move(it->second.callback);
    mState->entries.erase(it);
    if (!mState->DirectoryUsedLocked(directory)) {
        const auto watch = mState->watches.find(directory);
        if (watch != mState->watches.end()) {
            ::inotify_rm_watch(mState->inotifyFd, watch->second);
            mState->directories.erase(watch->second);
            mState->watches.erase(watch);
        }
    }
    if (std::this_thread::get_id() != mState->threadId) {
        mState->idle.wait(lock, [&] { return mState->runningId != id; });
    }
}

void CConfigWatcher::CheckAfter(int id, std::chrono::milliseconds delay)
{
    const auto due = IClock::Steady()->Now() + delay;
    std::lock_guard lock(mState->mutex);
    const auto it = mState->entries.find(id);
    if (it != mState->entries.end()) {
        it->second.checkAt = due;
        mState->Wake();
    }
}

bool CConfigWatcher::IsThisThread() const
{
    return std::this_thread::get_id() == mState->threadId;
}

void CConfigWatcher::Loop(const std::shared_ptr<SState>& stateRef)
{
    const std::shared_ptr<SState> state = stateRef;
    pthread_setname_np(pthread_self(), "configwatch");
    const auto clock = IClock::Steady();
    auto nextPoll = clock->Now();

    std::unique_lock lock(state->mutex);
    while (!state->stop) {
        const auto now = clock->Now();
        bool anyDue = false;
        const std::optional<IClock::time_point> nextCheck = state->TakeDueChecksLocked(now, anyDue);
        int timeoutMs = -1;
        if (anyDue) {
            timeoutMs = 0;
        } else if (!state->AllWatchedLocked()) {
            if (now >= nextPoll) {
                // Retry the missing watches; check the files either way.
                state->WatchDirectoriesLocked();
                state->CheckUnwatchedLocked();
                nextPoll = now + kPollInterval;
                continue;
            }
            timeoutMs = CeilMs(nextPoll - now);
        }
        if (nextCheck && timeoutMs != 0) {
            const int untilCheck = CeilMs(*nextCheck - now);
            timeoutMs = timeoutMs < 0 ? untilCheck : std::min(timeoutMs, untilCheck);
        }
        if (state->wakeFd < 0 && (timeoutMs < 0 || timeoutMs > kPollInterval.count())) {
            // Without the wake-up descriptor, requests are noticed by polling.
            timeoutMs = static_cast<int>(kPollInterval.count());
        }

        state->WaitUnlocked(lock, timeoutMs);
        // Events queued before a Sync request are read below, so delivering
        // them all answers every request made up to here.
        const std::uint64_t syncing = state->syncRequested;
        if (syncing != state->syncDone) {
            state->CheckUnwatchedLocked();
        }
        if (state->inotifyFd >= 0) {
            state->ReadEventsLocked();
        }
        state->DeliverLocked(lock);
        if (state->syncDone != syncing) {
            state->syncDone = syncing;
            state->idle.notify_all();
        }
    }
    state->syncDone = state->syncRequested; // releases waiters of a stopping watcher
    state->idle.notify_all();
}

void CConfigWatcher::Sync()
{
    std::unique_lock lock(mState->mutex);
    if (std::this_thread::get_id() == mState->threadId) {
        return;
    }
    const std::uint64_t target = ++mState->syncRequested;
    mState->Wake();
    mState->idle.wait(lock, [&] { return mState->syncDone >= target; });
}
