#pragma once
// A fresh directory under /tmp, removed with everything in it on destruction,
// and one that is also the root directory while it lives.

#include "platform/rootdir/rootdir.h"

#include <string>

namespace TestSupport {

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    // Path without a trailing slash.
    const std::string& Path() const { return mPath; }
    // Path with a trailing slash, usable as a root directory.
    std::string Root() const { return mPath + "/"; }
    // Writes a file below the directory (creating parent directories).
    void WriteFile(const std::string& relativePath, const std::string& content) const;
    std::string ReadFile(const std::string& relativePath) const;

private:
    std::string mPath;
};

// A temporary directory that is the root directory while it lives.
class CTempRoot : public CTempDir {
public:
    CTempRoot() { CRootDir::Set(Root()); }
    ~CTempRoot() { CRootDir::Set("/"); }
};

} // namespace TestSupport
