// Typed configuration reads through CTarvConfig with a warm cache: handlers
// read keys on every status poll, so a read must cost a table lookup and a
// cache lookup, never a file parse.

#include "platform/config/qeconfig.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/config/tarvconfig.h"

#include <benchmark/benchmark.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class CBenchRoot {
public:
    CBenchRoot()
    {
        std::string pattern = "/tmp/tarv-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) {
            std::abort();
        }
        mPath = buf.data();
        std::filesystem::create_directories(mPath + "/etc/config");
        Write("hwinfo", R"({"HwHasWlan": true, "HwHasEthernet": true, "ProductSn": "12-34-567-890"})");
        Write("network", R"({"TarvEthEnable": true, "TarvWlanEnable": false, "TarvSsid": "station"})");
        Write("secrets", "{}");
        Write("settings", R"({"InstallationComplete": true})");
        CRootDir::Set(mPath + "/");
    }
    ~CBenchRoot()
    {
        CRootDir::Set("/");
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    CBenchRoot(const CBenchRoot&) = delete;
    CBenchRoot& operator=(const CBenchRoot&) = delete;

private:
    void Write(const std::string& source, const std::string& content) const
    {
        std::ofstream(mPath + "/etc/config/" + source + ".json") << content;
    }

    std::string mPath;
};

// Counts the opens of the files in a directory (a parse starts with one).
class COpenCounter {
public:
    explicit COpenCounter(const std::string& directory)
        : mFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (mFd < 0 || ::inotify_add_watch(mFd, directory.c_str(), IN_OPEN) < 0) {
            std::abort();
        }
    }
    ~COpenCounter() { ::close(mFd); }
    COpenCounter(const COpenCounter&) = delete;
    COpenCounter& operator=(const COpenCounter&) = delete;

    // Opens since the last call.
    std::uint64_t Take()
    {
        std::uint64_t opens = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(mFd, buffer, sizeof(buffer))) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                opens += (event->mask & IN_OPEN) != 0 ? 1 : 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return opens;
    }

private:
    const int mFd;
};

// Reads cycle over keys of all four sources, as the status poll does.
void BM_TarvConfigGetBool(benchmark::State& state)
{
    CBenchRoot root;
    auto settings = QeConfig::Create("settings");
    auto hwinfo = QeConfig::CreateReadOnly("hwinfo", {}, true);
    auto secrets = QeConfig::Create("secrets");
    auto network = QeConfig::Create("network");
    CTarvConfig config(settings, hwinfo, secrets, network);
    const EConfigKey keys[] = {HwHasWlan, TarvEthEnable, InstallationComplete, HwHasLte, TarvWlanEnable,
                               TarvDnsAuto};
    for (const EConfigKey key : keys) {
        benchmark::DoNotOptimize(config.GetBool(key)); // warm the caches
    }
    COpenCounter opens(CRootDir::Get() + "etc/config");

    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.GetBool(keys[i]));
        i = (i + 1) % std::size(keys);
    }

    state.counters["parses"] = static_cast<double>(opens.Take());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TarvConfigGetBool);

void BM_TarvConfigGetString(benchmark::State& state)
{
    CBenchRoot root;
    CTarvConfig config(QeConfig::Create("settings"), QeConfig::CreateReadOnly("hwinfo", {}, true),
                       QeConfig::Create("secrets"), QeConfig::Create("network"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.GetString(TarvSsid));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TarvConfigGetString);

} // namespace
