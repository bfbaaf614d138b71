// Cached reads of a configuration source: the daemon reads keys on every
// status poll, so a read must cost a lookup, not a file parse.

#include "platform/config/configfilewriter.h"
#include "platform/config/qeconfig.h"
#include "platform/rootdir/rootdir.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
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
        Json::Value object(Json::objectValue);
        for (int i = 0; i < 40; ++i) {
            object["Key" + std::to_string(i)] = i % 2 == 0;
            object["Text" + std::to_string(i)] = "value " + std::to_string(i);
        }
        CConfigFileWriter::Write(mPath + "/etc/config/network.json", object);
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
    std::string mPath;
};

void BM_CachedGetBool(benchmark::State& state)
{
    CBenchRoot root;
    auto config = QeConfig::Create("network");
    const std::string key = "Key20";
    for (auto _ : state) {
        benchmark::DoNotOptimize(config->GetBool(key, false));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CachedGetBool);

void BM_CachedGetString(benchmark::State& state)
{
    CBenchRoot root;
    auto config = QeConfig::Create("network");
    const std::string key = "Text20";
    for (auto _ : state) {
        benchmark::DoNotOptimize(config->GetString(key, ""));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CachedGetString);

} // namespace
