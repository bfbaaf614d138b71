#pragma once
// The text of the WLAN supplicant's configuration file, made from plain
// values; the caller writes it (owner-only, it holds the key) and wipes it.

#include <string>
#include <string_view>

// Lowercase hexadecimal digits of bytes, two per byte.
std::string RenderHex(std::string_view bytes);

// The station's one network: its SSID (any bytes, written in hexadecimal so
// that no SSID can break the file) and its pre-shared key (64 hexadecimal
// digits, already derived).
std::string RenderSupplicantConfig(std::string_view ssid, std::string_view psk);
