#include "src/components/wlan/supplicantconfigrender.h"

std::string RenderHex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

std::string RenderSupplicantConfig(std::string_view ssid, std::string_view psk)
{
    // Reserved whole, so that no copy of the key is left behind in memory
    // the string gave up while growing.
    const std::string head = "country=NL\nnetwork={\n\tssid=" + RenderHex(ssid) + "\n\tpsk=";
    const std::string_view tail = "\n}\n";
    std::string text;
    text.reserve(head.size() + psk.size() + tail.size());
    text.append(head).append(psk).append(tail);
    return text;
}
