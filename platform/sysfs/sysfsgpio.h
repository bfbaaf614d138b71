#pragma once
// One GPIO line driven through the sysfs GPIO interface
// (/sys/class/gpio/export, /sys/class/gpio/gpioN/{direction,value}).

#include "platform/sysfs/sysfsaccess.h"

#include <memory>
#include <string>

class CSysfsGpio {
public:
    static constexpr int kDirectionIn = 0;
    static constexpr int kDirectionOut = 1;

    // access must not be null (std::invalid_argument otherwise).
    CSysfsGpio(int gpio, std::shared_ptr<CSysfsAccess> access);
    virtual ~CSysfsGpio() = default;
    CSysfsGpio(const CSysfsGpio&) = delete;
    CSysfsGpio& operator=(const CSysfsGpio&) = delete;

    int Number() const { return mGpio; }

    // Makes the line available in sysfs; true when it already was.
    virtual bool Export();
    // 1 = output, 0 = input; exports the line first when needed.
    virtual bool SetDirection(int direction);
    // 1 = high, 0 = low; other values are refused.
    virtual bool SetValue(int value);

private:
    std::string LinePath(const char* attribute) const;

    const int mGpio;
    const std::shared_ptr<CSysfsAccess> mAccess;
};
