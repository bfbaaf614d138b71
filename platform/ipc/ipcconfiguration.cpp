#include "platform/ipc/ipcconfiguration.h"

#include "platform/config/configtext.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/uniquefd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <grp.h>
#include <json/json.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {
constexpr const char* kUnixPrefix = "unix:";
constexpr const char* kExample = "\"unix:/run/iipc/tarv.sock\"";
constexpr const char* kGroupKey = "socketGroup";
// The file names a handful of endpoints; anything this large is not one.
constexpr std::size_t kMaxFileSize = 64 * 1024;

// The id of the named group; nothing when the system has no such group.
std::optional<gid_t> FindGroup(const std::string& name)
{
    long size = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
    group entry {};
    group* found = nullptr;
    int rc = 0;
    while ((rc = getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || found == nullptr) {
        return std::nullopt;
    }
    return found->gr_gid;
}
} // namespace

CIpcConfiguration::CIpcConfiguration(const std::string& path) : mPath(path)
{
    const std::string text = ReadText();
    Json::Value root;
    if (const auto errors = CConfigText::ParseValue(text, root)) {
        Fail("is not valid JSON: " + *errors);
    }
    if (!root.isObject()) {
        Fail("must hold a JSON object that maps names to endpoints such as " + std::string(kExample));
    }
    ReadEntries(root);
}

std::string CIpcConfiguration::ReadText() const
{
    // Never blocks (a FIFO in the file's place would wait for a writer for
    // ever); anything but a regular file is refused.
    CUniqueFd fd(::open(mPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.IsOpen()) {
        Fail(std::string("cannot be read: ") + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        Fail(std::string("cannot be read: ") + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        Fail("is a directory, not a file");
    }
    if (!S_ISREG(st.st_mode)) {
        Fail("is not a regular file (a FIFO, socket or device)");
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Fail(std::string("cannot be read: ") + std::strerror(errno));
        }
        if (n == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileSize) {
            Fail("is larger than " + std::to_string(kMaxFileSize) + " bytes");
        }
    }
}

void CIpcConfiguration::ReadEntries(const Json::Value& root)
{
    const std::size_t maxPath = sizeof(sockaddr_un::sun_path) - 1;
    for (const std::string& name : root.getMemberNames()) {
        const Json::Value& value = root[name];
        if (name == kGroupKey) {
            if (!value.isString() || value.asString().empty()) {
                Fail(std::string("entry '") + kGroupKey + "' must name a group, such as \"charging\"");
            }
            mSocketGroup = FindGroup(value.asString());
            if (!mSocketGroup) {
                Fail(std::string("entry '") + kGroupKey + "' names the group '" + value.asString() +
                     "', which this system does not have");
            }
            continue;
        }
        if (!value.isString()) {
            Fail("entry '" + name + "' must be a string such as " + kExample);
        }
        const std::string endpoint = value.asString();
        if (endpoint.rfind(kUnixPrefix, 0) != 0 || endpoint.size() <= std::strlen(kUnixPrefix) ||
            endpoint[std::strlen(kUnixPrefix)] != '/') {
            Fail("entry '" + name + "' is '" + endpoint + "', but only Unix socket endpoints with an absolute path " +
                 "are allowed, such as " + kExample);
        }
        SIpcEndpoint entry;
        entry.name = name;
        entry.socketPath = CRootDir::Resolve(endpoint.substr(std::strlen(kUnixPrefix)));
        if (entry.socketPath.size() > maxPath) {
            Fail("entry '" + name + "': the socket path '" + entry.socketPath + "' is longer than " +
                 std::to_string(maxPath) + " characters");
        }
        entry.address = kUnixPrefix + entry.socketPath;
        mEndpoints.emplace(name, std::move(entry));
    }
}

const SIpcEndpoint& CIpcConfiguration::GetEndpoint(const std::string& name) const
{
    const auto it = mEndpoints.find(name);
    if (it == mEndpoints.end()) {
        Fail("has no entry for '" + name + "'");
    }
    return it->second;
}

void CIpcConfiguration::Fail(const std::string& problem) const
{
    throw std::runtime_error("IPC configuration file '" + mPath + "' " + problem);
}
