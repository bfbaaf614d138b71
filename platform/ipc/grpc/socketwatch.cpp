#include "platform/ipc/grpc/socketwatch.h"

#include "platform/ipc/grpc/ipclog.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace IpcGrpc {
namespace {
constexpr std::uint32_t kEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
}

CSocketWatch::CSocketWatch() : mFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (mFd < 0) {
        Log(ELevel::warning, "Cannot watch the peers' socket directories ({}); absent peers are only retried",
            std::strerror(errno));
    }
}

CSocketWatch::~CSocketWatch()
{
    if (mFd >= 0) {
        close(mFd);
    }
}

void CSocketWatch::Watch(const std::string& socketPath)
{
    if (mFd < 0) {
        return;
    }
    {
        std::lock_guard lock(mMutex);
        if (!mSockets.insert(socketPath).second) {
            return;
        }
        mPending.insert(std::filesystem::path(socketPath).parent_path().string());
    }
    WatchPending();
}

void CSocketWatch::WatchPending()
{
    std::lock_guard lock(mMutex);
    for (auto it = mPending.begin(); it != mPending.end();) {
        const int wd = inotify_add_watch(mFd, it->c_str(), kEvents);
        if (wd < 0) {
            ++it;
            continue;
        }
        mDirectories[wd] = *it;
        it = mPending.erase(it);
    }
}

std::vector<std::string> CSocketWatch::Appeared()
{
    std::vector<std::string> appeared;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(mFd, buffer, sizeof(buffer));
        if (length <= 0) {
            break;
        }
        std::lock_guard lock(mMutex);
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const auto directory = mDirectories.find(event->wd);
            if (event->mask & IN_IGNORED) {
                // The directory went away: watch it again once it is back.
                if (directory != mDirectories.end()) {
                    mPending.insert(directory->second);
                    mDirectories.erase(directory);
                }
                continue;
            }
            if (directory == mDirectories.end() || event->len == 0) {
                continue;
            }
            const std::string path = directory->second + "/" + event->name;
            if (mSockets.count(path) != 0) {
                appeared.push_back(path);
            }
        }
    }
    WatchPending();
    return appeared;
}

} // namespace IpcGrpc
