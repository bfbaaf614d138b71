// libFuzzer target for the /proc files that tell whose process a pid is
// (scripts/fuzz.sh): the bytes up to the first 0xFF are /proc/PID/comm, the
// rest /proc/PID/cmdline; every identity check reads them without a crash,
// and a process with no command line belongs to nobody.

#include "src/components/system/processowner.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

class CFuzzedHost : public IHostSystem {
public:
    std::optional<std::vector<SIpv4Address>> Ipv4Addresses() override { return std::nullopt; }
    std::vector<int> ProcessIds() override { return {}; }
    std::string ProcessFile(int, const std::string& entry) override { return entry == "comm" ? comm : cmdline; }
    int SignalProcess(int, int) override { return 0; }

    std::string comm;
    std::string cmdline;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto host = std::make_shared<CFuzzedHost>();
    static CProcessOwner owner(host);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = std::min(input.find('\xff'), input.size());
    host->comm = input.substr(0, split);
    host->cmdline = input.substr(std::min(split + 1, input.size()));
    for (const char* interface : {"", "wlan0"}) {
        if (owner.IsProcessOf({.program = "wpa_supplicant", .pidFile = "", .interfaceName = interface}, 42) &&
            host->cmdline.empty()) {
            std::abort();
        }
    }
    return 0;
}
