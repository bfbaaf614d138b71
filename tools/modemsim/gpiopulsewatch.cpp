#include "tools/modemsim/gpiopulsewatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::string GpioDir(const std::string& root, int gpio)
{
    return root + "/sys/class/gpio/gpio" + std::to_string(gpio);
}

void CreateFile(const std::string& path, const char* content)
{
    if (!std::filesystem::exists(path)) {
        std::ofstream out(path);
        out << content;
        if (!out) {
            throw std::system_error(errno, std::generic_category(), "cannot create " + path);
        }
    }
}

} // namespace

std::string CGpioPulseWatch::ValuePath(const std::string& root, int gpio)
{
    return GpioDir(root, gpio) + "/value";
}

CGpioPulseWatch::CGpioPulseWatch(const std::string& root, const std::vector<int>& gpios)
{
    mFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (mFd < 0) {
        throw std::system_error(errno, std::generic_category(), "inotify_init1");
    }
    try {
        std::filesystem::create_directories(root + "/sys/class/gpio");
        CreateFile(root + "/sys/class/gpio/export", "");
        CreateFile(root + "/sys/class/gpio/unexport", "");
        for (const int gpio : gpios) {
            const std::string dir = GpioDir(root, gpio);
            std::filesystem::create_directories(dir);
            CreateFile(dir + "/direction", "in\n");
            CreateFile(dir + "/value", "0\n");
            // IN_MODIFY between the closes keeps inotify from merging two
            // consecutive close events of the same file into one.
            const int wd = ::inotify_add_watch(mFd, dir.c_str(), IN_MODIFY | IN_CLOSE_WRITE);
            if (wd < 0) {
                throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + dir);
            }
            SLine line {gpio, dir + "/value"};
            line.level = ReadLevel(line).value_or(0);
            mLines[wd] = line;
        }
    } catch (...) {
        ::close(mFd);
        throw;
    }
}

CGpioPulseWatch::~CGpioPulseWatch()
{
    ::close(mFd);
}

std::optional<int> CGpioPulseWatch::ReadLevel(const SLine& line)
{
    std::ifstream in(line.valuePath);
    char c = ' ';
    in >> c;
    if (c == '0' || c == '1') {
        return c - '0';
    }
    return std::nullopt; // truncated by a write that is still going on
}

bool CGpioPulseWatch::Drain()
{
    bool any = false;
    alignas(inotify_event) std::array<char, 4096> buffer {};
    while (true) {
        const ssize_t n = ::read(mFd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return any;
        }
        for (ssize_t pos = 0; pos < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + pos);
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const auto it = mLines.find(event->wd);
            if (it == mLines.end() || event->len == 0 || std::string(event->name) != "value") {
                continue;
            }
            any = true;
            if ((event->mask & IN_CLOSE_WRITE) != 0) {
                ++it->second.writes;
                it->second.inProgress = false;
            } else {
                it->second.inProgress = true;
            }
        }
    }
}

std::vector<int> CGpioPulseWatch::TakePulses()
{
    Drain();
    std::map<int, int> levels; // watch descriptor -> settled level
    // A writer that never pauses could keep the file from settling; after
    // a bounded number of rounds the last reads count.
    for (int round = 0; round < 100; ++round) {
        levels.clear();
        for (const auto& [wd, line] : mLines) {
            if (line.writes > 0 && !line.inProgress) {
                if (const auto level = ReadLevel(line)) {
                    levels[wd] = *level;
                }
            }
        }
        if (!Drain()) {
            break;
        }
    }
    std::vector<int> pulses;
    for (const auto& [wd, final] : levels) {
        SLine& line = mLines.at(wd);
        // Levels written, oldest first, alternating up to the final one.
        for (int i = line.writes - 1; i >= 0; --i) {
            const int level = i % 2 == 0 ? final : 1 - final;
            if (line.level == 1 && level == 0) {
                pulses.push_back(line.gpio);
            }
            line.level = level;
        }
        line.writes = 0;
    }
    return pulses;
}
