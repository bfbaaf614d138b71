#include "platform/config/qeconfig.h"

#include "platform/config/configsource.h"
#include "platform/config/configwatcher.h"

namespace QeConfig {

std::shared_ptr<IConfig> Create(const std::string& source, ErrorCallback errorCallback, ChangeCallback changeCallback)
{
    auto config = std::make_shared<CConfigSource>(source, std::move(errorCallback), false);
    if (changeCallback) {
        config->RegisterListener("", "", std::move(changeCallback));
    }
    return config;
}

std::shared_ptr<IReadOnlyConfig> CreateReadOnly(const std::string& source, ErrorCallback errorCallback, bool readOnly)
{
    if (!readOnly) {
        throw std::invalid_argument("CreateReadOnly(" + source + ") needs readOnly = true");
    }
    return std::make_shared<CConfigSource>(source, std::move(errorCallback), true);
}

void SyncChanges()
{
    if (const auto watcher = CConfigWatcher::Existing()) {
        watcher->Sync();
    }
}

} // namespace QeConfig
