// How a backend's port names become the device names the ports show: the product name alone,
// numbered when it repeats, cut to fit szPname.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// szPname holds 31 bytes and a terminator.
constexpr std::size_t kDeviceNameBytes = 31;

// RtMidi names an ALSA port "client:port C:P"; the numbers are ALSA's client and port numbers.
struct AlsaPortName {
    std::string client;
    std::string port;
    int clientNumber;
    int portNumber;
};
std::optional<AlsaPortName> ParseAlsaPortName(const std::string& full);

// A JACK port is "client:port"; the part after the first colon is its short name.
std::string JackShortName(const std::string& full);
std::string JackClientName(const std::string& full);

// At most `maxBytes` bytes of `text`, never ending inside a UTF-8 character.
std::string TruncateUtf8(const std::string& text, std::size_t maxBytes);

// Final device names in device order: each name cut to kDeviceNameBytes, and the second and
// later devices that carry the same name become "NAME (2)", "NAME (3)" (the suffix always
// kept whole, the name cut before it).
std::vector<std::string> NumberDuplicateNames(const std::vector<std::string>& names);

}  // namespace platform
