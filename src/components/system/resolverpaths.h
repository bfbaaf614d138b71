#pragma once
// Where the resolver configuration of each interface is kept, and the
// script that merges them into the system's resolver file.

#include <string>

namespace Tarv {
inline const std::string kResolvConfDir = "/run/resolvconf/interface/";
inline const std::string kSetResolvScript = "/usr/bin/setresolv.sh";
} // namespace Tarv
