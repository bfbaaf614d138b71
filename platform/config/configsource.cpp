#include "platform/config/configsource.h"

#include "platform/config/configfilewriter.h"
#include "platform/config/configtext.h"
#include "platform/config/configwatcher.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/atomicfile.h"
#include "platform/worker/iclock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The source whose file holds secrets: it is kept readable by its owner only.
const std::string kSecretsSource = "secrets";

// Configuration files are a few kilobytes; anything this large is not one.
constexpr off_t kMaxFileSize = 1024 * 1024;

void ValidateSourceName(const std::string& source)
{
    if (source.empty() || source == "." || source == ".." || source.find('/') != std::string::npos
        || source.find('\0') != std::string::npos) {
        throw std::invalid_argument("Invalid config source name '" + source + "'");
    }
}

const char* FileKind(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "a special file";
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CConfigSource::CConfigSource(const std::string& source, QeConfig::ErrorCallback errorCallback, bool readOnly,
                             std::chrono::milliseconds settleTime)
    : mSource((ValidateSourceName(source), source))
    , mPath(CRootDir::Resolve("/etc/config/" + source + ".json"))
    , mDirectory(DirectoryOf(mPath))
    , mFileName(FileNameOf(mPath))
    , mReadOnly(readOnly)
    , mErrorCallback(std::move(errorCallback))
    , mSettleTime(settleTime)
{
    SContent first = ReadSettledFile();
    mFileSeen = first.signature.exists;
    const auto report = ApplyContent(std::move(first), nullptr, nullptr);
    // Watching starts after the first read; the watcher's first check
    // catches a change that happened in between.
    mWatcher = CConfigWatcher::Instance();
    {
        // OnWatch may run before Add returns; it reads the id under the lock.
        std::lock_guard lock(mMutex);
        mWatchId = mWatcher->Add(mDirectory, mFileName, [this](bool fileChanged) { OnWatch(fileChanged); });
    }
    if (report && mErrorCallback) {
        try {
            mErrorCallback(*report);
        } catch (...) {
            mWatcher->Remove(mWatchId); // no destructor runs for a throwing constructor
            throw;
        }
    }
}

CConfigSource::~CConfigSource()
{
    mWatcher->Remove(mWatchId);
}

CConfigSource::SSignature CConfigSource::StatFile() const
{
    SSignature signature;
    struct stat st {};
    if (::stat(mPath.c_str(), &st) == 0) {
        signature.exists = true;
        signature.dev = st.st_dev;
        signature.ino = st.st_ino;
        signature.size = st.st_size;
        signature.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        signature.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    }
    return signature;
}

CConfigSource::SContent CConfigSource::ReadSettledFile() const
{
    const auto clock = IClock::Steady();
    SContent content = ReadFile();
    // Bounded: a file that keeps changing is taken as it is after a few tries.
    for (int attempt = 0; attempt < 4 && content.error; ++attempt) {
        clock->SleepFor(mSettleTime);
        SContent again = ReadFile();
        const bool settled = again.signature == content.signature;
        content = std::move(again);
        if (settled) {
            break;
        }
    }
    return content;
}

CConfigSource::SContent CConfigSource::ReadFile(EMissing missing) const
{
    SContent content;
    const auto fail = [&](std::string message, const std::string& data) {
        content.errorKey = (std::hash<std::string>{}(message) ^ (std::hash<std::string>{}(data) << 1)) | 1;
        content.error = std::move(message);
        return std::move(content);
    };

    // The status first: a change during the read then shows as a
    // different status at the next check.
    content.signature = StatFile();
    // Never blocks: a FIFO put in the file's place would otherwise wait for
    // a writer for ever. Anything but a regular file is refused below.
    const int fd = ::open(mPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            content.signature.exists = false;
            if (missing == EMissing::IsError) {
                return fail("Config file " + mPath + " is missing: it was removed while in use", {});
            }
            return content; // no file: an empty source
        }
        return fail("Cannot read config file " + mPath + ": " + std::strerror(errno), {});
    }
    std::string data;
    struct stat st {};
    bool readOk = ::fstat(fd, &st) == 0;
    if (readOk && !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("Invalid config file " + mPath + ": it is " + FileKind(st.st_mode) + ", not a regular file",
                    {});
    }
    if (readOk && st.st_size > kMaxFileSize) {
        ::close(fd);
        return fail("Invalid config file " + mPath + ": too large (" + std::to_string(st.st_size) + " bytes)", {});
    }
    char buffer[4096];
    while (readOk) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            readOk = n == 0;
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
        if (data.size() > static_cast<std::size_t>(kMaxFileSize)) {
            ::close(fd);
            return fail("Invalid config file " + mPath + ": too large", {});
        }
    }
    const int readErrno = errno;
    ::close(fd);
    if (!readOk) {
        return fail("Cannot read config file " + mPath + ": " + std::strerror(readErrno), {});
    }

    Json::Value root;
    if (const auto problem = CConfigText::Parse(data, root)) {
        return fail("Invalid config file " + mPath + ": " + *problem, data);
    }
    content.values = std::move(root);
    return content;
}

std::optional<std::string> CConfigSource::ApplyContent(SContent content, Json::Value* previous,
                                                       Json::Value* current)
{
    std::optional<std::string> report;
    std::lock_guard lock(mMutex);
    mSignature = content.signature;
    mHasFile = content.signature.exists;
    // A read that began before this process's last write may hold the file
    // as it was before that write: the cache keeps the written values (the
    // write's own event brings a later read), listeners hear what was read.
    const bool cacheIsNewer = content.read != 0 && content.read <= mReadsBeforeOwnWrite;
    if (content.error && cacheIsNewer) {
        if (previous && current) {
            *previous = mNotified;
            *current = mNotified;
        }
        return report;
    }
    if (content.error) {
        // The last good content stays for the listeners' comparison; reads
        // throw until the file is good again.
        if (content.errorKey != mReportedErrorKey) {
            mReportedErrorKey = content.errorKey;
            report = content.error;
        }
        mError = std::move(content.error);
        if (previous && current) {
            *previous = mNotified;
            *current = mNotified;
        }
        return report;
    }
    if (!cacheIsNewer) {
        mError.reset();
        mReportedErrorKey = 0;
        mValues = content.values;
    }
    if (previous && current) {
        *previous = std::move(mNotified);
        *current = content.values;
    }
    mNotified = std::move(content.values);
    return report;
}

void CConfigSource::OnWatch(bool fileChanged)
{
    if (!fileChanged) {
        const SSignature signature = StatFile();
        std::lock_guard lock(mMutex);
        if (signature == mSignature) {
            return;
        }
    }
    std::uint64_t read = 0;
    {
        std::lock_guard lock(mMutex);
        read = ++mReadsStarted;
    }
    SContent content = ReadFile(mFileSeen ? EMissing::IsError : EMissing::IsEmpty);
    content.read = read;
    if (content.signature.exists) {
        mFileSeen = true;
    }
    if (content.error) {
        // Possibly a writer between truncating and completing the file: the
        // content counts once it has stayed the same for the settle time.
        const auto now = IClock::Steady()->Now();
        if (mUnsettledSignature != content.signature) {
            mUnsettledSignature = content.signature;
            mUnsettledSince = now;
        }
        if (now - mUnsettledSince < mSettleTime) {
            int watchId = 0;
            {
                std::lock_guard lock(mMutex);
                watchId = mWatchId;
            }
            mWatcher->CheckAfter(watchId, std::chrono::ceil<std::chrono::milliseconds>(
                                              mUnsettledSince + mSettleTime - now));
            return;
        }
    }
    mUnsettledSignature.reset();
    Json::Value previous;
    Json::Value current;
    const auto report = ApplyContent(std::move(content), &previous, &current);
    if (report && mErrorCallback) {
        try {
            mErrorCallback(*report);
        } catch (const std::exception& e) {
            TLOG_ERROR("Config source {}: error callback failed: {}", mSource, e.what());
        }
    }
    Dispatch(previous, current);
}

void CConfigSource::Dispatch(const Json::Value& previous, const Json::Value& current)
{
    // Both member lists are sorted: walk them together.
    std::vector<std::pair<std::string, Json::Value>> changes;
    const auto before = previous.getMemberNames();
    const auto after = current.getMemberNames();
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && *b < *a)) {
            changes.emplace_back(*b, Json::Value(Json::nullValue)); // removed
            ++b;
        } else if (b == before.end() || *a < *b) {
            changes.emplace_back(*a, current[*a]); // added
            ++a;
        } else {
            if (previous[*b] != current[*a]) {
                changes.emplace_back(*a, current[*a]);
            }
            ++a;
            ++b;
        }
    }
    if (changes.empty()) {
        return;
    }

    std::vector<std::pair<std::string, std::shared_ptr<SListener>>> listeners;
    {
        std::lock_guard lock(mListenerMutex);
        listeners.assign(mListeners.begin(), mListeners.end());
    }
    for (const auto& [key, value] : changes) {
        for (const auto& [name, listener] : listeners) {
            if (key.compare(0, listener->filter.size(), listener->filter) != 0) {
                continue;
            }
            {
                std::lock_guard lock(mListenerMutex);
                if (!listener->active) {
                    continue;
                }
                mRunning = listener.get();
            }
            try {
                listener->callback(key, value);
            } catch (const std::exception& e) {
                TLOG_ERROR("Config source {}: listener {} failed on key {}: {}", mSource, name, key, e.what());
            }
            std::lock_guard lock(mListenerMutex);
            mRunning = nullptr;
            mListenerIdle.notify_all();
        }
    }
}

const Json::Value* CConfigSource::FindLocked(const std::string& key) const
{
    if (mError) {
        throw QeConfig::CInvalidConfig(*mError);
    }
    const Json::Value* value = mValues.find(key.data(), key.data() + key.size());
    // A stored null counts as absent, as after a removal.
    return value && !value->isNull() ? value : nullptr;
}

bool CConfigSource::HasFile() const
{
    std::lock_guard lock(mMutex);
    return mHasFile;
}

bool CConfigSource::GetBool(const std::string& key, bool defaultValue) const
{
    std::lock_guard lock(mMutex);
    const Json::Value* value = FindLocked(key);
    if (!value) {
        return defaultValue;
    }
    if (!value->isBool()) {
        throw QeConfig::CTypeError("Config key '" + key + "' in source '" + mSource + "' holds a "
                                   + CConfigText::TypeName(*value) + ", not a boolean");
    }
    return value->asBool();
}

std::string CConfigSource::GetString(const std::string& key, const std::string& defaultValue) const
{
    std::lock_guard lock(mMutex);
    const Json::Value* value = FindLocked(key);
    if (!value) {
        return defaultValue;
    }
    if (!value->isString()) {
        throw QeConfig::CTypeError("Config key '" + key + "' in source '" + mSource + "' holds a "
                                   + CConfigText::TypeName(*value) + ", not a string");
    }
    return value->asString();
}

void CConfigSource::SetValue(const std::string& key, const Json::Value& value)
{
    if (mReadOnly) {
        throw std::logic_error("Config source " + mSource + " is read-only");
    }
    if (!value.isBool() && !value.isString() && !value.isNull()) {
        throw QeConfig::CTypeError("Config key '" + key + "' in source '" + mSource + "' cannot hold a "
                                   + CConfigText::TypeName(value) + ": only booleans and strings are stored");
    }
    std::lock_guard writeLock(mWriteMutex);
    // The file, not the cache, is the base: a change by another process
    // that the watcher has not delivered yet must not be overwritten.
    SContent content = ReadFile();
    if (content.error) {
        throw QeConfig::CInvalidConfig(*content.error);
    }
    Json::Value updated = content.values;
    if (value.isNull()) {
        updated.removeMember(key);
    } else {
        updated[key] = value;
    }
    if (updated == content.values) {
        return; // spares the flash a rewrite
    }
    if (!CConfigFileWriter::Write(mPath, updated, mSource == kSecretsSource ? CAtomicFile::kSecretFileMode
                                                                            : CConfigFileWriter::kNewFileMode)) {
        throw std::runtime_error("Cannot write config file " + mPath);
    }
    mFileSeen = true;
    // Reads see the new value at once; listeners hear of it through the
    // watcher, as of any other change. A read the watcher began before this
    // point may still hold the older file: it must not replace these values
    // (see ApplyContent). A read begun later sees this file or a newer one.
    std::lock_guard lock(mMutex);
    mReadsBeforeOwnWrite = mReadsStarted;
    mValues = std::move(updated);
    mError.reset();
    mHasFile = true;
}

void CConfigSource::WaitUntilNotRunning(const SListener* listener, std::unique_lock<std::mutex>& lock)
{
    // On the watcher thread the listener may be the caller itself.
    if (!mWatcher->IsThisThread()) {
        mListenerIdle.wait(lock, [&] { return mRunning != listener; });
    }
}

void CConfigSource::RegisterListener(const std::string& listenerName, const std::string& filter,
                                     QeConfig::ChangeCallback callback)
{
    if (!callback) {
        UnregisterListener(listenerName);
        return;
    }
    auto listener = std::make_shared<SListener>();
    listener->filter = filter;
    listener->callback = std::move(callback);
    std::shared_ptr<SListener> replaced;
    std::unique_lock lock(mListenerMutex);
    auto& slot = mListeners[listenerName];
    replaced = std::move(slot);
    slot = std::move(listener);
    if (replaced) {
        replaced->active = false;
        WaitUntilNotRunning(replaced.get(), lock);
    }
}

void CConfigSource::UnregisterListener(const std::string& listenerName)
{
    std::shared_ptr<SListener> removed;
    std::unique_lock lock(mListenerMutex);
    const auto it = mListeners.find(listenerName);
    if (it == mListeners.end()) {
        return;
    }
    removed = std::move(it->second);
    mListeners.erase(it);
    removed->active = false;
    WaitUntilNotRunning(removed.get(), lock);
}
