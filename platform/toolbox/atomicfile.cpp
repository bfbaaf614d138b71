#include "platform/toolbox/atomicfile.h"

#include "platform/log/log.h"
#include "platform/toolbox/uniquefd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>

namespace {

// Same limit as the kernel's for path resolution.
constexpr int kMaxLinkDepth = 40;
constexpr int kTempNameAttempts = 100;

// The file a write to path lands in: symbolic links followed to their final
// target (which need not exist yet). False for a link loop or unreadable link.
bool FollowLinks(const std::string& path, std::filesystem::path& target)
{
    namespace fs = std::filesystem;
    fs::path current(path);
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (!fs::is_symlink(status)) {
            target = current;
            return true;
        }
        const fs::path link = fs::read_symlink(current, ec);
        if (ec) {
            return false;
        }
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    return false;
}

std::string DirectoryOf(const std::filesystem::path& target)
{
    const std::filesystem::path parent = target.parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// A fresh file beside the target, readable by its owner only until the
// caller sets its final mode.
CUniqueFd CreateTempFile(const std::filesystem::path& target, std::string& tempPath)
{
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    const std::string base = DirectoryOf(target) + "/." + target.filename().string() + ".tmp";
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempPath = base + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
                   std::to_string(random() & 0xffffff);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return CUniqueFd(fd);
        }
    }
    return CUniqueFd(-1);
}

// Writes over the existing file. Used where a file cannot be replaced by a
// rename: device and other special files, a file whose directory is not
// writable, a file mounted on its own.
bool WriteInPlace(const std::string& path, const std::filesystem::path& target, std::string_view content,
                  bool secret)
{
    CUniqueFd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (!fd.IsOpen()) {
        TLOG_ERROR("Failed to open {} for writing.", path);
        return false;
    }
    struct stat st {};
    if (secret && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode)
        && ::fchmod(fd.Get(), CAtomicFile::kSecretFileMode) != 0) {
        TLOG_ERROR("Failed to restrict the permissions of {}.", path);
        return false;
    }
    if (!fd.WriteAll(content) || (::fsync(fd.Get()) != 0 && errno != EINVAL) || !fd.Close()) {
        TLOG_ERROR("Failed to write content to {}.", path);
        return false;
    }
    return true;
}

void SyncDirectory(const std::string& directory)
{
    CUniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsOpen()) {
        ::fsync(fd.Get());
    }
}

} // namespace

bool CAtomicFile::Replace(const std::string& path, std::string_view content, mode_t newFileMode)
{
    const bool secret = newFileMode == kSecretFileMode;
    std::filesystem::path target;
    if (!FollowLinks(path, target)) {
        TLOG_ERROR("Failed to open {} for writing.", path);
        return false;
    }
    const std::string directory = DirectoryOf(target);

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists ? ::access(target.c_str(), W_OK) != 0 : ::access(directory.c_str(), W_OK | X_OK) != 0) {
        TLOG_ERROR("Failed to open {} for writing, Tarv doesn't have write permission.", path);
        return false;
    }
    if (exists && (!S_ISREG(existing.st_mode) || ::access(directory.c_str(), W_OK | X_OK) != 0)) {
        return WriteInPlace(path, target, content, secret);
    }

    std::string tempPath;
    CUniqueFd fd = CreateTempFile(target, tempPath);
    if (!fd.IsOpen()) {
        TLOG_ERROR("Failed to open {} for writing.", path);
        return false;
    }
    const mode_t mode = secret ? kSecretFileMode : exists ? existing.st_mode & 07777 : newFileMode;
    bool written = ::fchmod(fd.Get(), mode) == 0;
    if (exists) {
        if (::fchown(fd.Get(), existing.st_uid, existing.st_gid) != 0) {
            // Without the right to give the file away it stays ours, as a
            // freshly created file would be.
        }
    }
    written = written && fd.WriteAll(content) && ::fsync(fd.Get()) == 0;
    written = fd.Close() && written;
    if (written && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(tempPath.c_str());
        if (renameError == EBUSY || renameError == EXDEV) {
            return WriteInPlace(path, target, content, secret);
        }
        TLOG_ERROR("Failed to write content to {}.", path);
        return false;
    }
    if (!written) {
        ::unlink(tempPath.c_str());
        TLOG_ERROR("Failed to write content to {}.", path);
        return false;
    }
    SyncDirectory(directory);
    return true;
}
