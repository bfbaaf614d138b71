#pragma once
// A child process under a chosen name (as /proc/PID/comm shows it): a DHCP
// client, or whatever process a stale pid file may name by now. It waits
// for signals and ends on the first one.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace HandlerMocks {

class CFakeProcess {
public:
    explicit CFakeProcess(const char* name)
    {
        int ready[2];
        if (pipe(ready) != 0) {
            throw std::runtime_error("pipe");
        }
        mPid = fork();
        if (mPid == 0) {
            prctl(PR_SET_NAME, name);
            const char byte = 1;
            (void)!write(ready[1], &byte, 1);
            for (;;) {
                pause();
            }
        }
        // Named before anyone looks at it.
        char byte = 0;
        (void)!read(ready[0], &byte, 1);
        close(ready[0]);
        close(ready[1]);
    }
    ~CFakeProcess()
    {
        if (mPid > 0) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }
    CFakeProcess(const CFakeProcess&) = delete;
    CFakeProcess& operator=(const CFakeProcess&) = delete;

    int Pid() const { return mPid; }

    // Ends the process and tells which signal ended it: SIGUSR1 when the
    // renew signal reached it (pending SIGUSR1 is delivered before SIGTERM),
    // SIGTERM otherwise.
    int EndAndGetSignal()
    {
        kill(mPid, SIGTERM);
        int status = 0;
        waitpid(mPid, &status, 0);
        mPid = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

private:
    int mPid = -1;
};

} // namespace HandlerMocks
