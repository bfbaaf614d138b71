#pragma once
// Joins texts for log lines and command lines.

#include <string>
#include <string_view>
#include <vector>

// The parts, each preceded by prefix, separated by separator; empty for no parts.
std::string Join(const std::vector<std::string>& parts, std::string_view separator = ",",
                 std::string_view prefix = "");
