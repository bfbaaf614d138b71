#pragma once
// What a simulated modem is and does: its identity, SIM card, stored
// configuration, network behaviour over time, SMS inbox, timing and
// injected faults. Read once from a JSON object; every value is checked
// where it enters and an unknown key is an error, so a typing mistake in a
// scenario file is reported instead of silently running the defaults.
// Missing keys keep the defaults below (a registered LTE modem in ECM mode
// with an unlocked SIM).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One injected fault, matched against each received command line.
struct SModemFault {
    enum class EKind {
        Timeout,    // no answer at all
        Garbage,    // bytes that are not text, then nothing (or the answer)
        Error,      // "ERROR"
        CmeError,   // "+CME ERROR: <code>"
        Truncated,  // the information lines without the final result line
        Endless,    // a line that never ends
        Unsolicited,// an unsolicited line inside the regular answer (at position)
        Delay,      // the regular answer after delayMs
        Vanish,     // the device disappears (serial lost)
    };

    EKind kind = EKind::Error;
    // Exact command line ("AT+CEREG?") or, with prefix set, its beginning.
    std::string command;
    bool prefix = false;
    // How many matching commands it hits; negative: all of them.
    int times = -1;
    // Matching commands let through before the fault starts.
    int skip = 0;
    int cmeCode = 100;
    // Unsolicited text, or the garbage bytes (default: a fixed binary mix).
    std::string text;
    // Garbage followed by the regular answer.
    bool thenAnswer = false;
    std::int64_t delayMs = 0;
    std::size_t endlessBytes = 8192;
    // Unsolicited: the answer line before which the code goes; 0 before the
    // answer, beyond the information lines just before the final line.
    int position = 0;
};

// The 3GPP registration states of both radio technologies from a point in
// time on (seconds since the radio was switched on).
struct SRegistrationStep {
    double atSeconds = 0;
    int lte = 1;
    int gsm = 0;
};

struct SStoredSms {
    std::string from = "+10000000000";
    std::string time = "26/01/01,12:00:00+00";
    std::string text;
    bool read = false;
};

struct SModemScenario {
    enum class EUsbNet { Ecm, Rmnet };

    // Identity
    std::string imei = "866123456789012";
    std::string firmware = "BG95M3LAR02A03_01.200.01.200";

    // SIM card
    bool simPresent = true;
    std::optional<std::string> pin; // absent: no PIN lock
    std::string puk = "12345678";
    int pinAttempts = 3;
    int pukAttempts = 10;
    std::string iccid = "89490200001234567890";
    std::string imsi = "262011234567890";

    // Configuration kept in the modem's non-volatile memory
    bool ecm = true;
    std::vector<std::string> bands {"0x3", "0x8080085", "0x8080085"};
    std::string scanSequence = "020103";
    int iotMode = 0;
    int simEffect = 0;
    bool fastShutdown = false;
    bool smsTextMode = false;
    int apnIpType = 3;
    std::string apnName;
    std::string apnUser;
    std::string apnPassword;
    int apnAuth = 0;

    // The modem's roaming configuration file; absent when nullopt. A modem
    // that boots without it writes roamingDefault.
    std::optional<std::string> roamingFile = std::string("Roaming=1\n");
    std::string roamingDefault = "Roaming=1\n";

    // Network
    std::string technology = "eMTC"; // LTE technology: "eMTC" or "NBIoT"
    std::string carrier = "Carrier";
    std::string operatorCode = "26201";
    std::string band = "LTE BAND 20";
    int channel = 6300;
    int rssi = -65;
    int rsrp = -95;
    int sinr = 12;
    int rsrq = -10;
    std::string gsmTechnology = "GSM";
    std::string gsmBand = "GSM 900";
    int gsmChannel = 62;
    int gsmRssi = -71;
    std::vector<SRegistrationStep> registration {SRegistrationStep {}};

    // Data context
    std::string pdpAddress = "10.64.0.2";
    int pdpType = 1; // 1 IPv4, 2 IPv6
    std::vector<std::string> dns {"10.0.0.1", "10.0.0.2"};

    std::vector<int> temperatures {31, 33, 29};
    std::vector<SStoredSms> sms;

    // Timing in milliseconds, before the simulator's time scale applies.
    std::int64_t powerOnMs = 2000;   // power key released -> device present
    std::int64_t appReadyMs = 300;   // device present -> "APP RDY"
    std::int64_t powerOffMs = 1000;  // power key released -> device gone
    // "APP RDY" -> SIM ready: until then the SIM commands answer
    // "+CME ERROR: 14" (SIM busy), then "+CPIN: READY" is sent.
    std::int64_t simReadyMs = 0;

    // Power-ons after which the device does not appear; negative: every one.
    int deviceMissingPowerOns = 0;
    std::vector<SModemFault> faults;

    // Parses a JSON object; nullopt with a one-line reason in error.
    static std::optional<SModemScenario> Parse(const std::string& json, std::string& error);
    static std::optional<SModemScenario> Load(const std::string& path, std::string& error);
};
