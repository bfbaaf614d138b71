// tarv-standin: a daemon of the station that the simulated station cannot
// run for real, as its own process. Installed (copied, not linked) under the
// daemon's name, it acts as that daemon towards everything that looks at it:
// its process name and command line are the daemon's, it daemonizes and
// writes its pid file as the daemon does (after the fork), it refuses the
// configuration and interface errors the daemon refuses, and SIGTERM or
// SIGINT ends it, removing its pid file.
//
//   hostapd [-B] [-P PIDFILE] [-d...] CONFIG...
//   wpa_supplicant [-B] [-P PIDFILE] -c CONFIG -i INTERFACE [-D DRIVER] [-d...]
//   ntpd [-n] [-q] [-N] [-w] [-d...] [-S PROGRAM] [-p PEER]...
// ntpd cannot set the clock in the sandbox: a one-shot run (-q) fails as
// the real one does without the right to, a daemon run only idles.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct SOptions {
    std::string name;
    bool background = false;
    bool oneShot = false;
    std::string pidFile;
    std::vector<std::string> configs;
    std::string interface;
};

bool Readable(const std::string& path)
{
    return !path.empty() && access(path.c_str(), R_OK) == 0;
}

bool InterfaceExists(const std::string& name)
{
    struct stat info {};
    return !name.empty() && name.find('/') == std::string::npos &&
           stat(("/sys/class/net/" + name).c_str(), &info) == 0;
}

// The value of the first "interface=" line of a hostapd configuration.
std::string ConfiguredInterface(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("interface=", 0) == 0) {
            return line.substr(10);
        }
    }
    return {};
}

// getopt over the daemon's own option letters; false on an unknown option.
bool Parse(int argc, char** argv, SOptions& options)
{
    const bool hostapd = options.name == "hostapd";
    const bool supplicant = options.name == "wpa_supplicant";
    const char* letters = hostapd ? "+BP:dhv" : supplicant ? "+BP:c:i:D:dqtKh" : "+nqNwdS:p:l";
    opterr = 1;
    for (int opt = 0; (opt = getopt(argc, argv, letters)) != -1;) {
        switch (opt) {
        case 'B': options.background = true; break;
        case 'P': options.pidFile = optarg; break;
        case 'c': options.configs.push_back(optarg); break;
        case 'i': options.interface = optarg; break;
        case 'q': options.oneShot = !hostapd && !supplicant; break;
        case 'n': options.background = false; break;
        case '?': return false;
        default: break;
        }
    }
    if (options.name == "ntpd") {
        // busybox ntpd daemonizes unless told not to (-n).
        options.background = true;
        for (int i = 1; i < argc; ++i) {
            options.background = options.background && std::strcmp(argv[i], "-n") != 0;
        }
    }
    for (int i = optind; hostapd && i < argc; ++i) {
        options.configs.push_back(argv[i]);
    }
    return true;
}

// The daemon's own refusals, with its messages; 0 when it may run.
int Check(const SOptions& options)
{
    if (options.name == "hostapd") {
        if (options.configs.empty()) {
            std::fprintf(stderr, "usage: hostapd [-B] [-P <PID file>] <configuration file(s)>\n");
            return 1;
        }
        for (const auto& config : options.configs) {
            if (!Readable(config)) {
                std::fprintf(stderr, "Could not open configuration file '%s' for reading.\n", config.c_str());
                return 1;
            }
            if (!InterfaceExists(ConfiguredInterface(config))) {
                std::fprintf(stderr, "Could not read interface %s flags: No such device\n",
                             ConfiguredInterface(config).c_str());
                return 1;
            }
        }
    } else if (options.name == "wpa_supplicant") {
        if (options.configs.empty() || !Readable(options.configs.front())) {
            std::fprintf(stderr, "Failed to read or parse configuration '%s'.\n",
                         options.configs.empty() ? "" : options.configs.front().c_str());
            return 255;
        }
        if (!InterfaceExists(options.interface)) {
            std::fprintf(stderr, "Could not read interface %s flags: No such device\n", options.interface.c_str());
            return 255;
        }
    } else if (options.oneShot) {
        std::fprintf(stderr, "ntpd: can't set time: Operation not permitted\n");
        return 1;
    }
    return 0;
}

// Into the background as daemon(3) does: the parent exits at once, the
// child leaves the session and the terminal.
void Daemonize()
{
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        _exit(1);
    }
    if (child > 0) {
        _exit(0);
    }
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2) {
            close(null);
        }
    }
}

void WritePidFile(const std::string& path)
{
    if (path.empty()) {
        return;
    }
    std::ofstream file(path, std::ios::trunc);
    file << getpid() << '\n';
}

// Removes the pid file only while it still names this process.
void RemovePidFile(const std::string& path)
{
    std::ifstream file(path);
    long pid = 0;
    if (!path.empty() && file >> pid && pid == getpid()) {
        unlink(path.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    SOptions options;
    const char* slash = std::strrchr(argv[0], '/');
    options.name = slash != nullptr ? slash + 1 : argv[0];
    if (options.name != "hostapd" && options.name != "wpa_supplicant" && options.name != "ntpd") {
        std::fprintf(stderr, "tarv-standin: install me as hostapd, wpa_supplicant or ntpd, not '%s'\n",
                     options.name.c_str());
        return 2;
    }
    if (!Parse(argc, argv, options)) {
        return 1;
    }
    if (const int refused = Check(options)) {
        return refused;
    }

    // Blocked before the fork, so that no signal is lost between the pid
    // file and the wait; SIGHUP (reload) does nothing here.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    if (options.background) {
        Daemonize();
    }
    WritePidFile(options.pidFile);
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
    }
    RemovePidFile(options.pidFile);
    return 0;
}
