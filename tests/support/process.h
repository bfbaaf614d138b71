#pragma once
// Other processes and what no event announces: bounded polling (for another
// process's state, a file it writes, the kernel's view of a link), whether a
// process ended, and code run as an unprivileged user.

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace TestSupport {

// Checks condition every 10 ms until it holds or timeout has passed; returns
// whether it held at the last check.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Whether the process is gone or a zombie.
bool ProcessEnded(pid_t pid);

// Runs body in a child process as the user nobody (access checks apply to
// root only partly); returns the child's exit status (100 and up: it could
// not change its user or did not exit).
int RunAsNobody(const std::function<int()>& body);

} // namespace TestSupport
