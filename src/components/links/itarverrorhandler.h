#pragma once
// Whether an interface exists and is in a wanted operational state, and
// repair of an interface that ifup/ifdown left in the wrong state.

#include <cstdint>
#include <string>

class ITarvErrorHandler {
public:
    virtual ~ITarvErrorHandler() = default;
    virtual bool DoesIfExist(const std::string& interfaceName) = 0;
    // True when the interface is (now) in the desired operational state.
    // CTarvException when the interface does not exist.
    virtual bool RecoverFromIfUpDown(const std::string& interfaceName, std::uint8_t desiredState) = 0;
    // CTarvException when the interface does not exist.
    virtual bool IsIfInDesiredState(const std::string& interfaceName, std::uint8_t desiredState) = 0;
};
