// Typed configuration reads through CTarvConfig with a warm cache: handlers
// read keys on every status poll, so a read must cost a table lookup and a
// cache lookup, never a file parse.

#include "platform/config/configsource.h"
#include "platform/config/qeconfig.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/config/tarvconfig.h"

#include <benchmark/benchmark.h>

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

std::uint64_t ParseCount(const std::shared_ptr<QeConfig::IReadOnlyConfig>& source)
{
    const auto* concrete = dynamic_cast<const CConfigSource*>(source.get());
    return concrete == nullptr ? 0 : concrete->GetParseCount();
}

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
    const std::uint64_t parsesBefore =
        ParseCount(settings) + ParseCount(hwinfo) + ParseCount(secrets) + ParseCount(network);

    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.GetBool(keys[i]));
        i = (i + 1) % std::size(keys);
    }

    const std::uint64_t parsesAfter =
        ParseCount(settings) + ParseCount(hwinfo) + ParseCount(secrets) + ParseCount(network);
    state.counters["parses"] = static_cast<double>(parsesAfter - parsesBefore);
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
