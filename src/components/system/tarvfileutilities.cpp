#include "src/components/system/tarvfileutilities.h"

#include "platform/log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

// Same limit as the kernel's for path resolution.
constexpr int kMaxLinkDepth = 40;
constexpr int kTempNameAttempts = 100;

// Closes the descriptor it owns.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd = -1) : mFd(fd) {}
    ~CFileDescriptor()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return mFd; }
    bool IsOpen() const { return mFd >= 0; }
    // Closes now and reports whether the kernel accepted the close.
    bool Close()
    {
        const int fd = mFd;
        mFd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int mFd;
};

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

bool WriteAll(int fd, const std::string& content)
{
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string DirectoryOf(const std::filesystem::path& target)
{
    const std::filesystem::path parent = target.parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// A fresh file beside the target, created with the default creation mode.
CFileDescriptor CreateTempFile(const std::filesystem::path& target, std::string& tempPath)
{
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    const std::string base = DirectoryOf(target) + "/." + target.filename().string() + ".tmp";
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempPath = base + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
                   std::to_string(random() & 0xffffff);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return CFileDescriptor(fd);
        }
    }
    return CFileDescriptor(-1);
}

// Writes over the existing file. Used where a file cannot be replaced by a
// rename: device and other special files, a file whose directory is not
// writable, a file mounted on its own.
bool WriteInPlace(const std::string& path, const std::filesystem::path& target, const std::string& content)
{
    CFileDescriptor fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.IsOpen()) {
        TLOG_ERROR("Failed to open {} for writing.", path);
        return false;
    }
    if (!WriteAll(fd.Get(), content) || (::fsync(fd.Get()) != 0 && errno != EINVAL) || !fd.Close()) {
        TLOG_ERROR("Failed to write content to {}.", path);
        return false;
    }
    return true;
}

void SyncDirectory(const std::string& directory)
{
    CFileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsOpen()) {
        ::fsync(fd.Get());
    }
}

} // namespace

bool WriteToFile(const std::string& path, const std::string& content)
{
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
        return WriteInPlace(path, target, content);
    }

    std::string tempPath;
    CFileDescriptor fd = CreateTempFile(target, tempPath);
    if (!fd.IsOpen()) {
        TLOG_ERROR("Failed to open {} for writing.", path);
        return false;
    }
    bool written = true;
    if (exists) {
        written = ::fchmod(fd.Get(), existing.st_mode & 07777) == 0;
        if (::fchown(fd.Get(), existing.st_uid, existing.st_gid) != 0) {
            // Without the right to give the file away it stays ours, as a
            // freshly created file would be.
        }
    }
    written = written && WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0;
    written = fd.Close() && written;
    if (written && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(tempPath.c_str());
        if (renameError == EBUSY || renameError == EXDEV) {
            return WriteInPlace(path, target, content);
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

bool ReplaceInFile(const std::string& path, std::string_view placeholder, std::string_view value)
{
    if (::access(path.c_str(), R_OK) != 0) {
        TLOG_ERROR("Cannot open {}, it doesn't exist or Tarv doesn't have read permission.", path);
        return false;
    }
    std::error_code ec;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in.is_open() || !std::filesystem::is_regular_file(path, ec)) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    if (static_cast<std::size_t>(size) > Tarv::kMaxEditableFileSize) {
        TLOG_ERROR("Failed to open {}, the file is too large ({} bytes). Expected {} bytes or less.", path, size,
                   Tarv::kMaxEditableFileSize);
        return false;
    }
    std::string content(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(content.data(), size);
    if (in.gcount() != size) {
        TLOG_ERROR("Failed to open {} for reading.", path);
        return false;
    }
    in.close();

    if (placeholder.empty()) {
        return WriteToFile(path, content);
    }
    std::string modified;
    modified.reserve(content.size());
    std::size_t from = 0;
    for (std::size_t at = content.find(placeholder); at != std::string::npos;
         at = content.find(placeholder, from)) {
        modified.append(content, from, at - from);
        modified.append(value);
        from = at + placeholder.size();
    }
    modified.append(content, from, std::string::npos);
    return WriteToFile(path, modified);
}
