#pragma once
// Watches configuration files for changes made by any process. One thread
// per process serves every watched file: an inotify watch on each file's
// directory reports writes, renames into place and deletions.
//
// When a directory cannot be watched (it does not exist, or inotify is not
// available), its files are checked every kPollInterval instead (the
// callback compares the file's status), and the watch is tried again at the
// same pace, so a directory created later is watched from then on.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class CConfigWatcher {
public:
    // fileChanged is true when inotify reported a change of the file; false
    // for a check (right after Add, after a lost or new watch, and on every
    // poll while the directory is not watched), where the callee decides by
    // itself whether the file changed.
    using Callback = std::function<void(bool fileChanged)>;

    static constexpr std::chrono::milliseconds kPollInterval{100};

    // The process-wide watcher; it lives while someone holds it.
    static std::shared_ptr<CConfigWatcher> Instance();
    // The process-wide watcher if one lives, else null.
    static std::shared_ptr<CConfigWatcher> Existing();

    CConfigWatcher();
    ~CConfigWatcher();
    CConfigWatcher(const CConfigWatcher&) = delete;
    CConfigWatcher& operator=(const CConfigWatcher&) = delete;

    // Calls callback on the watcher thread whenever directory/fileName may
    // have changed; a first check follows soon after Add. Returns an id for
    // Remove.
    int Add(const std::string& directory, const std::string& fileName, Callback callback);
    // After Remove returns, the callback is not running and is never called
    // again (on the watcher thread itself it only prevents further calls).
    void Remove(int id);
    // Calls the entry's callback (as a check) again once delay has passed;
    // a later request replaces an earlier one. Any thread, callbacks included.
    void CheckAfter(int id, std::chrono::milliseconds delay);
    bool IsThisThread() const;
    // Returns once every change that inotify had reported when Sync was
    // called has been delivered (and polled files have been checked). Returns
    // at once on the watcher thread.
    void Sync();

private:
    // The thread keeps its own reference, so the watcher may be released by
    // a callback running on that thread.
    struct SState;

    static void Loop(const std::shared_ptr<SState>& state);

    std::shared_ptr<SState> mState;
    std::thread mThread;
};
