#include "platform/rootdir/rootdir.h"

#include <mutex>

namespace {
std::mutex gRootMutex;
std::string gRoot = "/"; // guarded by gRootMutex
} // namespace

void CRootDir::Set(const std::string& root)
{
    std::lock_guard lock(gRootMutex);
    gRoot = root;
}

std::string CRootDir::Get()
{
    std::lock_guard lock(gRootMutex);
    return gRoot;
}

std::string CRootDir::Resolve(const std::string& absolutePath)
{
    const std::string root = Get();
    if (!absolutePath.empty() && absolutePath.front() == '/') {
        return root + absolutePath.substr(1);
    }
    return root + absolutePath;
}
