#pragma once
// Descriptor of one AT command, the outcome codes of the modem layer and the
// answer handed back to callers.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Decides whether one information line of an answer counts.
using AtLineValidator = bool (*)(std::string_view line);

// One static instance per command. A command that takes arguments holds its
// fixed head ("AT+CPIN="); the arguments are passed with each call.
struct AtCommand {
    std::string_view command {};
    // Prefix of the information line ("+CPIN:"); absent when the answer has
    // none or is not parsed.
    std::optional<std::string_view> expected = std::nullopt;
    // Applied to every information line; only lines that pass count.
    AtLineValidator validator = nullptr;
    // Time allowed for the final result line.
    std::chrono::milliseconds timeout {0};
    // Success is logged at debug instead of info level (polled commands).
    bool quiet = false;
    // Arguments and answer carry a secret (PIN, APN password): no log line
    // shows them, and a failed answer is handed back masked.
    bool secret = false;
    // The answer lists message bodies: the log shows the entry heads only.
    bool bodies = false;
};

enum class EAtResult : int {
    Ok = 0,
    // "ERROR" / "+CME ERROR:" received, or "OK" without the expected or a valid line.
    Error = 1,
    // Port not open, write failed, or the device vanished during the exchange.
    SerialError = 2,
    // No final result line within the command's time limit.
    Timeout = 3,
    // SIM missing or not unlocked (modem command layer only).
    SimError = 4,
};

const char* AtResultName(EAtResult result);

struct AtResponse {
    EAtResult result = EAtResult::SerialError;
    // Ok: the parsed values. Error and Timeout: one element, the raw
    // collected content. SerialError: empty.
    std::vector<std::string> values;
    // The final result line ("OK", "+CME ERROR: 14"); empty without one.
    std::string final;
};
