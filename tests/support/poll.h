#pragma once
// Bounded polling, for what no event announces: another process's state, a
// file another process writes, the kernel's view of a link.

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace TestSupport {

// Checks condition every 10 ms until it holds or timeout has passed; returns
// whether it held at the last check.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Whether the process is gone or a zombie.
bool ProcessEnded(pid_t pid);

} // namespace TestSupport
