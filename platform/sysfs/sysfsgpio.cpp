#include "platform/sysfs/sysfsgpio.h"

#include "platform/log/log.h"

#include <stdexcept>

namespace {
const std::string kGpioDir = "/sys/class/gpio/";
} // namespace

CSysfsGpio::CSysfsGpio(int gpio, std::shared_ptr<CSysfsAccess> access)
    : mGpio(gpio)
    , mAccess(std::move(access))
{
    if (!mAccess) {
        throw std::invalid_argument("CSysfsGpio needs a sysfs access object");
    }
}

std::string CSysfsGpio::LinePath(const char* attribute) const
{
    std::string path = kGpioDir + "gpio" + std::to_string(mGpio);
    if (attribute != nullptr) {
        path += '/';
        path += attribute;
    }
    return path;
}

bool CSysfsGpio::Export()
{
    TLOG_FUNCTION();
    if (mAccess->Exists(LinePath(nullptr))) {
        return true;
    }
    if (!mAccess->Write(kGpioDir + "export", std::to_string(mGpio))) {
        TLOG_ERROR("GPIO {}: export failed", mGpio);
        return false;
    }
    return true;
}

bool CSysfsGpio::SetDirection(int direction)
{
    TLOG_FUNCTION();
    if (direction != kDirectionIn && direction != kDirectionOut) {
        TLOG_ERROR("GPIO {}: invalid direction {}", mGpio, direction);
        return false;
    }
    if (!Export()) {
        return false;
    }
    return mAccess->Write(LinePath("direction"), direction == kDirectionOut ? "out" : "in");
}

bool CSysfsGpio::SetValue(int value)
{
    TLOG_FUNCTION();
    if (value != 0 && value != 1) {
        TLOG_ERROR("GPIO {}: invalid value {}", mGpio, value);
        return false;
    }
    return mAccess->Write(LinePath("value"), value == 1 ? "1" : "0");
}
