#pragma once
// The filesystem root directory of the daemon (command-line option -r).
// Every file the daemon opens itself is its documented absolute path under
// this root; with the default root "/" the path is unchanged.

#include <string>

class CRootDir {
public:
    // Set once at start-up, before other threads exist (tests set it per case).
    static void Set(const std::string& root);
    static std::string Get();
    // Plain concatenation of the root and the path without its leading slash:
    // root "/" keeps "/etc/hosts"; root "/tmp/r/" gives "/tmp/r/etc/hosts".
    // A root without a trailing slash runs into the path ("/tmp/retc/hosts"),
    // exactly as the root is concatenated everywhere else.
    static std::string Resolve(const std::string& absolutePath);
};
