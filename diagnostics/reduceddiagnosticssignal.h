#pragma once
// Reduced diagnostics signals for integers, integer vectors and strings.
//
// Integers and integer vectors: a period, and optionally a threshold below
// which a change is not worth a send (off unless SetThreshold is called).
// Strings: a period, and a send on every change of the text.

#include "diagnostics/reduceddiagnosticssignalbase.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

template <typename T>
class CReducedDiagnosticsSignal;

namespace ReducedSignalDetail {
inline bool Close(std::int32_t a, std::int32_t b, std::int32_t threshold)
{
    return std::llabs(static_cast<long long>(a) - static_cast<long long>(b)) < threshold;
}
} // namespace ReducedSignalDetail

template <>
class CReducedDiagnosticsSignal<std::int32_t> final : public CReducedDiagnosticsSignalBase<std::int32_t> {
public:
    CReducedDiagnosticsSignal(const CSignalDefinition<std::int32_t>* definition, std::optional<Period> period,
                              std::shared_ptr<IClock> clock = IClock::Steady())
        : CReducedDiagnosticsSignalBase(definition, period, false, std::move(clock))
    {
    }
    // Sends also when the value moved by threshold or more since the last send.
    void SetThreshold(std::int32_t threshold)
    {
        mThreshold = threshold;
        SetCompare(true);
    }

protected:
    bool IsSimilar(const std::int32_t& a, const std::int32_t& b) const override
    {
        return ReducedSignalDetail::Close(a, b, mThreshold);
    }

private:
    std::int32_t mThreshold = 0;
};

template <>
class CReducedDiagnosticsSignal<std::vector<std::int32_t>> final
    : public CReducedDiagnosticsSignalBase<std::vector<std::int32_t>> {
public:
    CReducedDiagnosticsSignal(const CSignalDefinition<std::vector<std::int32_t>>* definition,
                              std::optional<Period> period, std::shared_ptr<IClock> clock = IClock::Steady())
        : CReducedDiagnosticsSignalBase(definition, period, false, std::move(clock))
    {
    }
    // Sends also when the length changed or any element moved by threshold or more.
    void SetThreshold(std::int32_t threshold)
    {
        mThreshold = threshold;
        SetCompare(true);
    }

protected:
    bool IsSimilar(const std::vector<std::int32_t>& a, const std::vector<std::int32_t>& b) const override
    {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!ReducedSignalDetail::Close(a[i], b[i], mThreshold)) {
                return false;
            }
        }
        return true;
    }

private:
    std::int32_t mThreshold = 0;
};

template <>
class CReducedDiagnosticsSignal<std::string> final : public CReducedDiagnosticsSignalBase<std::string> {
public:
    CReducedDiagnosticsSignal(const CSignalDefinition<std::string>* definition, std::optional<Period> period,
                              std::shared_ptr<IClock> clock = IClock::Steady())
        : CReducedDiagnosticsSignalBase(definition, period, true, std::move(clock))
    {
    }

protected:
    bool IsSimilar(const std::string& a, const std::string& b) const override { return a == b; }
};
