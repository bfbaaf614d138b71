#pragma once
// One configuration source: the JSON object file
// <root>etc/config/<source>.json, resolved when the source is created.
//
// Reads come from a cache. The file is parsed when the source is created
// and again only after the process-wide watcher reported a change (inotify
// on the directory; without a watchable directory the file's status is
// compared every 100 ms). A file missing at start is an empty source; a file
// that vanishes afterwards is an error, never a source of defaults. A file
// that cannot be read, is not a regular file (it is opened without blocking,
// so a FIFO cannot hang the reader) or is not a JSON object makes every read
// throw CInvalidConfig; the error callback hears of each distinct bad
// content once, with the file's path.
// A bad content counts only once it has stayed unchanged for the settle time
// and still reads bad: a writer that truncates the file and then writes it
// is not an error. Until then reads keep the last good content.
//
// Listeners run on the watcher thread, one at a time, with no lock held that
// a getter or (un)registration needs; the cache already holds the new
// content when they run. After UnregisterListener or the destructor returns
// (on any other thread) the callback is not running and is not called again.
// A listener must not release the last reference to its own source.

#include "platform/config/qeconfig.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

class CConfigWatcher;

class CConfigSource final : public QeConfig::IConfig {
public:
    // Throws std::invalid_argument for a source name that is not a plain
    // file name.
    CConfigSource(const std::string& source, QeConfig::ErrorCallback errorCallback, bool readOnly,
                  std::chrono::milliseconds settleTime = kSettleTime);
    ~CConfigSource() override;
    CConfigSource(const CConfigSource&) = delete;
    CConfigSource& operator=(const CConfigSource&) = delete;

    bool GetBool(const std::string& key, bool defaultValue) const override;
    std::string GetString(const std::string& key, const std::string& defaultValue) const override;
    const std::string& GetSource() const override { return mSource; }
    bool HasFile() const override;

    // Re-reads the file, sets the key (a null value removes it) and replaces
    // the file atomically; an unchanged value leaves the file alone. Throws
    // CTypeError for a value other than boolean, string or null,
    // CInvalidConfig when the current file is unreadable (it is not
    // overwritten), std::runtime_error when writing fails, std::logic_error
    // on a read-only source.
    void SetValue(const std::string& key, const Json::Value& value) override;
    // filter: only keys starting with it are reported (empty: every key).
    void RegisterListener(const std::string& listenerName, const std::string& filter,
                          QeConfig::ChangeCallback callback) override;
    void UnregisterListener(const std::string& listenerName) override;

    const std::string& GetPath() const { return mPath; }

    // Longer than any writer's pause between truncating and completing a file.
    static constexpr std::chrono::milliseconds kSettleTime{500};

private:
    struct SSignature {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        bool operator==(const SSignature&) const = default;
    };
    struct SContent {
        std::optional<std::string> error;    // set when the file is unusable
        Json::Value values{Json::objectValue};
        std::size_t errorKey = 0;            // identifies a bad content for the error callback
        SSignature signature;
        std::uint64_t read = 0;              // number of the watcher's read (0: not the watcher's)
    };
    struct SListener {
        std::string filter;
        QeConfig::ChangeCallback callback;
        bool active = true;                  // guarded by mListenerMutex
    };

    // What a missing file means: an empty source (at start, and for a file
    // never seen), or an error (a file that vanished while in use).
    enum class EMissing { IsEmpty, IsError };
    SContent ReadFile(EMissing missing = EMissing::IsEmpty) const;
    // A fresh read; a bad content is read again until it stayed the same
    // for the settle time (at start-up, when nothing good is cached yet).
    SContent ReadSettledFile() const;
    SSignature StatFile() const;
    const Json::Value* FindLocked(const std::string& key) const;
    // Takes a new content into the cache; returns the error message to report.
    std::optional<std::string> ApplyContent(SContent content, Json::Value* previous, Json::Value* current);
    void OnWatch(bool fileChanged);
    void Dispatch(const Json::Value& previous, const Json::Value& current);
    void WaitUntilNotRunning(const SListener* listener, std::unique_lock<std::mutex>& lock);

    const std::string mSource;
    const std::string mPath;
    const std::string mDirectory;
    const std::string mFileName;
    const bool mReadOnly;
    const QeConfig::ErrorCallback mErrorCallback;
    const std::chrono::milliseconds mSettleTime;

    // The file existed at some read or write: from then on its absence is
    // an error, not an empty source.
    std::atomic<bool> mFileSeen{false};

    mutable std::mutex mMutex;              // guards the cache below
    Json::Value mValues{Json::objectValue}; // content of the last good read or write
    std::optional<std::string> mError;      // current file unusable: reads throw this
    SSignature mSignature;                  // status of the file when last parsed
    bool mHasFile = false;                  // the file existed at the last read applied or write
    std::size_t mReportedErrorKey = 0;      // last bad content reported (0: none)
    Json::Value mNotified{Json::objectValue}; // content listeners last heard of
    std::uint64_t mReadsStarted = 0;        // the watcher's reads begun so far
    std::uint64_t mReadsBeforeOwnWrite = 0; // reads up to this number began before the last SetValue's write
    // Watcher thread only: a bad content seen and not yet reported.
    std::optional<SSignature> mUnsettledSignature;
    std::chrono::steady_clock::time_point mUnsettledSince;

    std::mutex mWriteMutex;                 // serialises SetValue in this process

    std::mutex mListenerMutex;              // guards the listeners and mRunning
    std::condition_variable mListenerIdle;  // a listener call returned
    std::map<std::string, std::shared_ptr<SListener>> mListeners;
    const SListener* mRunning = nullptr;    // listener being called

    std::shared_ptr<CConfigWatcher> mWatcher; // set in the constructor, constant afterwards
    int mWatchId = 0;                         // set under mMutex in the constructor (OnWatch reads it under mMutex)
};
