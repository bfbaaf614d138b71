#pragma once
// Watches the sysfs GPIO value files of the modem's control lines under a
// root directory and reports each pulse (a high level followed by a low
// one) on them. The files are plain files here, written by the daemon the
// way it writes sysfs; the watch creates them (value "0") when missing.
//
// A pulse may be shorter than the time the simulator takes to look at the
// file, so the watch counts completed writes (each ends with a close) and
// reads the level only from a settled file: no write in progress and no
// new event between the last close and the read. The levels are taken to
// have alternated up to the level read: "1" then "0", seen as "0" after
// two writes, is one pulse. Writers that store the level they already had
// in between are the exception this cannot tell apart.

#include <map>
#include <optional>
#include <string>
#include <vector>

class CGpioPulseWatch {
public:
    // Throws std::system_error when the files or the watch cannot be set up.
    CGpioPulseWatch(const std::string& root, const std::vector<int>& gpios);
    ~CGpioPulseWatch();
    CGpioPulseWatch(const CGpioPulseWatch&) = delete;
    CGpioPulseWatch& operator=(const CGpioPulseWatch&) = delete;

    // The inotify descriptor (non-blocking), readable when a file changed.
    int Fd() const { return mFd; }
    // Reads the pending changes; the GPIO number of each pulse, in order.
    std::vector<int> TakePulses();
    static std::string ValuePath(const std::string& root, int gpio);

private:
    struct SLine {
        int gpio;
        std::string valuePath;
        int level = 0;
        int writes = 0;          // completed since the level was last read
        bool inProgress = false; // modified after the last completed write
    };

    // Reads the queued events into the lines; true when there were any.
    bool Drain();
    static std::optional<int> ReadLevel(const SLine& line);

    int mFd = -1;
    std::map<int, SLine> mLines; // by watch descriptor
};
