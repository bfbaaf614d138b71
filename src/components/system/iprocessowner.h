#pragma once
// The one owner of the programs the daemon starts, signals or stops (the
// supplicant, the DHCP clients, the access point's services): a process is
// found through its pid file and acted on only when it is that program (and
// serves that interface), never by its name alone, so that another
// component's process of the same name is left alone.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct SProcessIdentity {
    // The program's name, as in /proc/PID/comm or the base name of its first
    // argument (a multi-call binary's applet counts too).
    std::string program;
    // The documented absolute path of its pid file (resolved under the root).
    std::string pidFile;
    // The interface its command line must name ("-i IF", "-iIF",
    // "--interface IF", "--interface=IF"); empty when it names none.
    std::string interfaceName;
    // The interface is an operand of the command line instead ("ifup IF",
    // "ifdown -f IF=LOGICAL"), as for programs that take interfaces to act on.
    bool interfaceOperand = false;
};

class IProcessOwner {
public:
    virtual ~IProcessOwner() = default;

    // The pid the pid file names when that process is the identity's; -1
    // otherwise. Right after NoteStarted it waits (up to kStartWindow) for
    // the started process to write its pid file.
    virtual int Find(const SProcessIdentity& identity) = 0;
    // Sends the signal to pid once it is checked (again) to be the
    // identity's process; false when it is not or the signal failed.
    virtual bool Signal(const SProcessIdentity& identity, int pid, int signalNumber) = 0;
    // Ends the identity's process: SIGTERM, up to grace for it to exit, then
    // SIGKILL and up to grace again. True when none of it is left.
    virtual bool Stop(const SProcessIdentity& identity, std::chrono::milliseconds grace) = 0;
    // Tells the owner that a process of the identity was just started and
    // may not have written its pid file yet.
    virtual void NoteStarted(const SProcessIdentity& identity) = 0;
    // Ends the running processes of the identities, found through /proc
    // (for programs that write no pid file), and every process below each
    // of them: SIGTERM, up to grace for them to exit, then SIGKILL and up to
    // grace again. Meant for what an earlier run of this daemon left behind,
    // before this run starts programs of its own. Returns how many were ended.
    virtual std::size_t StopLeftovers(const std::vector<SProcessIdentity>& identities,
                                      std::chrono::milliseconds grace) = 0;

    // How long after a start its pid file is waited for (a daemon writes it
    // within milliseconds; a lifecycle step must still end within 5 s).
    static constexpr std::chrono::seconds kStartWindow{2};
};
