#include "platform/config/configfilewriter.h"

#include "platform/log/log.h"

#include <json/writer.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Closes a descriptor when it goes out of scope.
class CFd {
public:
    explicit CFd(int fd)
        : mFd(fd)
    {
    }
    ~CFd()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return mFd; }
    // Closes now, reporting the result (a deferred write error shows here).
    bool Close()
    {
        const int fd = mFd;
        mFd = -1;
        return ::close(fd) == 0;
    }

private:
    int mFd;
};

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool CConfigFileWriter::Write(const std::string& path, const Json::Value& object)
{
    if (!object.isObject()) {
        TLOG_ERROR("Config file {} not written: the value is not a JSON object", path);
        return false;
    }
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "    ";
    builder["emitUTF8"] = true;
    const std::string content = Json::writeString(builder, object) + "\n";

    std::string tmpl = dir + "/." + base + ".XXXXXX";
    std::vector<char> tmpPath(tmpl.begin(), tmpl.end());
    tmpPath.push_back('\0');
    CFd fd(::mkostemp(tmpPath.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        TLOG_ERROR("Config file {} not written: cannot create a temporary file: {}", path, std::strerror(errno));
        return false;
    }
    const std::string tmp(tmpPath.data());

    const auto fail = [&](const char* step) {
        const int error = errno;
        ::unlink(tmp.c_str());
        TLOG_ERROR("Config file {} not written: {} failed: {}", path, step, std::strerror(error));
        return false;
    };

    struct stat old {};
    mode_t mode = kNewFileMode;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
        // Keeps the owner when the writer may (root); otherwise the file
        // belongs to the writer, as any file it creates.
        if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
            errno = 0;
        }
    }
    if (::fchmod(fd.Get(), mode) != 0) {
        return fail("fchmod");
    }
    if (!WriteAll(fd.Get(), content)) {
        return fail("write");
    }
    if (::fsync(fd.Get()) != 0) {
        return fail("fsync");
    }
    if (!fd.Close()) {
        return fail("close");
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        return fail("rename");
    }
    CFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0 || ::fsync(dirFd.Get()) != 0) {
        // The new file is in place; only its durability across a power cut
        // is in doubt.
        TLOG_WARN("Config file {} written, but flushing its directory failed: {}", path, std::strerror(errno));
    }
    return true;
}
