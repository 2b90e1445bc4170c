#include "platform/device_names.h"

#include <charconv>
#include <map>

namespace platform {

namespace {

std::optional<int> ParseNumber(const std::string& text, std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return std::nullopt;
    }
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + begin, text.data() + end, value);
    if (ec != std::errc() || ptr != text.data() + end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<AlsaPortName> ParseAlsaPortName(const std::string& full) {
    const std::size_t blank = full.rfind(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t colon = full.find(':', blank);
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto client = ParseNumber(full, blank + 1, colon);
    const auto port = ParseNumber(full, colon + 1, full.size());
    if (!client || !port) {
        return std::nullopt;
    }
    const std::string names = full.substr(0, blank);
    // Client names may hold a colon more often than port names do ("a2j:..." bridges name
    // ports, not clients), but neither is forbidden; the caller asks ALSA when it can.
    const std::size_t split = names.find(':');
    AlsaPortName result;
    result.client = split == std::string::npos ? names : names.substr(0, split);
    result.port = split == std::string::npos ? std::string() : names.substr(split + 1);
    result.clientNumber = *client;
    result.portNumber = *port;
    return result;
}

std::string JackShortName(const std::string& full) {
    const std::size_t colon = full.find(':');
    return colon == std::string::npos ? full : full.substr(colon + 1);
}

std::string JackClientName(const std::string& full) {
    const std::size_t colon = full.find(':');
    return colon == std::string::npos ? std::string() : full.substr(0, colon);
}

std::string TruncateUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

std::vector<std::string> NumberDuplicateNames(const std::vector<std::string>& names) {
    std::vector<std::string> result;
    result.reserve(names.size());
    std::map<std::string, int> seen;
    for (const auto& name : names) {
        const std::string base = TruncateUtf8(name, kDeviceNameBytes);
        const int count = ++seen[base];
        if (count == 1) {
            result.push_back(base);
            continue;
        }
        const std::string suffix = " (" + std::to_string(count) + ")";
        result.push_back(TruncateUtf8(base, kDeviceNameBytes - suffix.size()) + suffix);
    }
    return result;
}

}  // namespace platform
