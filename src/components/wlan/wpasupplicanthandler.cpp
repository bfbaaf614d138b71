#include "src/components/wlan/wpasupplicanthandler.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/fsutils.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/handlers/hostsystem.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/processowner.h"
#include "src/components/system/tarvfileutilities.h"
#include "src/components/wlan/supplicantconfigrender.h"

#include <wolfssl/options.h>
#include <wolfssl/wolfcrypt/hash.h>
#include <wolfssl/wolfcrypt/pwdbased.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fmt/format.h>
#include <utility>

namespace {

constexpr int kPskIterations = 4096;
constexpr std::size_t kPskBytes = 32;

// Wipes a buffer that held key material; the compiler may not drop it.
void Wipe(void* data, std::size_t size)
{
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    while (size-- > 0) {
        *bytes++ = 0;
    }
}

} // namespace

CWpaSupplicantHandler::CWpaSupplicantHandler(SystemCommand systemCommand, std::shared_ptr<IHostSystem> hostSystem,
                                             std::shared_ptr<IClock> clock,
                                             std::shared_ptr<IProcessOwner> processOwner)
    : mSystemCommand(systemCommand ? std::move(systemCommand)
                                   : SystemCommand([](const std::string& commandLine, std::string& output) {
                                         return CFsUtils::RunSystemCmd(commandLine, output, kStartDeadline);
                                     })),
      mProcesses(processOwner ? std::move(processOwner)
                              : std::make_shared<CProcessOwner>(
                                    hostSystem ? std::move(hostSystem) : std::make_shared<CHostSystem>(),
                                    clock ? std::move(clock) : IClock::Steady())),
      mInterfaceName(Tarv::kWlan0)
{
}

SProcessIdentity CWpaSupplicantHandler::IdentityLocked() const
{
    return {"wpa_supplicant", kPidPath, mInterfaceName};
}

bool CWpaSupplicantHandler::StartWpaSupplicant(std::string_view interfaceName, std::string_view ssid,
                                               std::string_view passphrase)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    if (mProcesses->Find(IdentityLocked()) != -1) {
        TLOG_WARN("wpa_supplicant already started, stopping...");
        StopLocked();
    }
    mInterfaceName = interfaceName;
    // A configuration without a network would only start a supplicant that
    // joins nothing.
    if (ssid.empty()) {
        TLOG_ERROR("No SSID, wpa_supplicant not started");
        return false;
    }
    if (!WriteWpaSupplicantConfig(ssid, passphrase)) {
        return false;
    }
    const std::string command = fmt::format("wpa_supplicant -B -P {} -c {} -i {}", CRootDir::Resolve(kPidPath),
                                            CRootDir::Resolve(kConfigPath), interfaceName);
    std::string output;
    const int result = mSystemCommand(command, output);
    if (result != 0) {
        TLOG_ERROR("Could not start wpa_supplicant: {}", result);
        return false;
    }
    // In the background it writes its pid file a moment later: until then
    // the owner waits for it rather than take it for absent.
    mProcesses->NoteStarted(IdentityLocked());
    return true;
}

void CWpaSupplicantHandler::StopWpaSupplicant()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    StopLocked();
}

void CWpaSupplicantHandler::StopLocked()
{
    // A new supplicant started at once would find the interface still held
    // by the old one: the stop waits for it to end.
    if (!mProcesses->Stop(IdentityLocked(), kStopGrace)) {
        TLOG_CRITICAL("Failed to stop wpa_supplicant");
    }
    TLOG_DEBUG("Removing wpa_supplicant config");
    const std::string path = CRootDir::Resolve(kConfigPath);
    if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
        TLOG_ERROR("Could not remove {}: {}", path, errno);
    }
}

bool CWpaSupplicantHandler::WriteWpaSupplicantConfig(std::string_view ssid, std::string_view passphrase)
{
    std::string psk = GeneratePsk(ssid, passphrase);
    if (psk.empty()) {
        return false;
    }
    std::string content = RenderSupplicantConfig(ssid, psk);
    Wipe(psk.data(), psk.size());
    const std::string path = CRootDir::Resolve(kConfigPath);
    const bool written = WriteToFile(path, content, CAtomicFile::kSecretFileMode);
    Wipe(content.data(), content.size());
    if (!written) {
        TLOG_ERROR("Could not open {} file", path);
        return false;
    }
    // A file left behind by someone else keeps its mode when replaced; the
    // key is for root's eyes only.
    if (chmod(path.c_str(), CAtomicFile::kSecretFileMode) != 0) {
        TLOG_ERROR("Could not restrict the permissions of {}: {}", path, errno);
        std::remove(path.c_str());
        return false;
    }
    return true;
}

std::string CWpaSupplicantHandler::GeneratePsk(std::string_view ssid, std::string_view passphrase)
{
    if (CTarvValidation::IsWlanRawKey(passphrase)) {
        std::string key(passphrase);
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        return key;
    }
    std::array<unsigned char, kPskBytes> key{};
    const int result =
        wc_PBKDF2(key.data(), reinterpret_cast<const byte*>(passphrase.data()), static_cast<int>(passphrase.size()),
                  reinterpret_cast<const byte*>(ssid.data()), static_cast<int>(ssid.size()), kPskIterations,
                  static_cast<int>(key.size()), WC_SHA);
    if (result != 0) {
        TLOG_ERROR("Failed generating PSK, wc_PBKDF2 error: {}", result);
        return {};
    }
    std::string text = RenderHex(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    Wipe(key.data(), key.size());
    return text;
}
