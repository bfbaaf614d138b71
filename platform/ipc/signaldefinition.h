#pragma once
// Catalogue description of one diagnostics signal: identifier, description,
// default value and unit (empty where the signal has none).

#include <cstdint>
#include <string>
#include <utility>

template <typename T>
class CSignalDefinition {
public:
    CSignalDefinition(std::uint32_t identifier, std::string description, T defaultValue, std::string unit = {})
        : mIdentifier(identifier), mDescription(std::move(description)), mDefault(std::move(defaultValue)),
          mUnit(std::move(unit))
    {
    }

    std::uint32_t GetIdentifier() const { return mIdentifier; }
    const std::string& GetDescription() const { return mDescription; }
    const T& GetDefault() const { return mDefault; }
    const std::string& GetUnit() const { return mUnit; }

private:
    std::uint32_t mIdentifier;
    std::string mDescription;
    T mDefault;
    std::string mUnit;
};
