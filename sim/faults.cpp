#include "sim/faults.h"

#include <charconv>
#include <cstdio>

namespace sim {

namespace {

constexpr std::int64_t kMaxIndex = 0x7FFFFFFF;
// Ten minutes: longer than any wait of the host, short enough to notice a typo.
constexpr std::int64_t kMaxDelayMs = 600000;

constexpr std::string_view kFaultNames[] = {
    "family", "not-update-mode", "begin-status", "end-status", "silent", "drop", "late-ack",
    "crc",    "flash-error",     "erase-refuse", "inject"};
constexpr std::string_view kStageNames = "identity, begin, erase:R, write:N, end";

struct InjectionName {
    Injection message;
    std::string_view name;
};
constexpr InjectionName kInjectionNames[] = {
    {Injection::kIdentityRequest, "identity-request"},
    {Injection::kBeginUpdate, "begin-update"},
    {Injection::kEndUpdate, "end-update"},
    {Injection::kUnknownCommand, "unknown-command"},
    {Injection::kWrongModel, "wrong-model"},
    {Injection::kTruncated, "truncated"},
    {Injection::kOversize, "oversize"},
    {Injection::kNoF0, "no-f0"},
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string Quote(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

// Parses one item; on failure sets `error` to what is wrong with it, without the item itself.
class CItemParser {
  public:
    CItemParser(Faults& faults, std::string& error) : m_faults(faults), m_error(error) {}

    bool Parse(std::string_view item) {
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const bool hasValue = eq != std::string_view::npos;
        const std::string_view value = hasValue ? item.substr(eq + 1) : std::string_view{};

        if (key == "not-update-mode") {
            if (hasValue) return Fail("takes no value");
            if (m_faults.notUpdateMode) return Fail("given twice");
            if (m_faults.beginStatus) return Fail("conflicts with begin-status");
            m_faults.notUpdateMode = true;
            return true;
        }
        if (!IsKnown(key)) return Fail("unknown fault (expected one of " + KnownNames() + ")");
        if (!hasValue) return Fail("needs a value: " + std::string(key) + "=...");
        if (key == "family") return ParseByte(value, 0x7F, m_faults.family);
        if (key == "begin-status") {
            if (m_faults.notUpdateMode) return Fail("conflicts with not-update-mode");
            return ParseByte(value, 0x7F, m_faults.beginStatus);
        }
        if (key == "end-status") return ParseByte(value, 0x7F, m_faults.endStatus);
        if (key == "silent") {
            if (m_faults.silentFrom) return Fail("given twice");
            Moment moment;
            if (!ParseMoment(value, moment)) return false;
            m_faults.silentFrom = moment;
            return true;
        }
        if (key == "drop") return ParseRowFault(value, "N:K", 1, kMaxIndex, m_faults.drops);
        if (key == "late-ack") {
            return ParseRowFault(value, "N:MS", 0, kMaxDelayMs, m_faults.lateAcks);
        }
        if (key == "crc") return ParseRowFault(value, "N:K", 1, kMaxIndex, m_faults.crcErrors);
        if (key == "flash-error") {
            return ParseRowFault(value, "N:K", 1, kMaxIndex, m_faults.flashErrors);
        }
        if (key == "erase-refuse") {
            return ParseRowFault(value, "R:K", 1, kMaxIndex, m_faults.eraseRefusals);
        }
        return ParseInject(value);
    }

  private:
    static bool IsKnown(std::string_view key) {
        for (std::string_view name : kFaultNames) {
            if (name == key) return true;
        }
        return false;
    }

    static std::string KnownNames() {
        std::string names;
        for (std::string_view name : kFaultNames) {
            names += (names.empty() ? "" : ", ") + std::string(name);
        }
        return names;
    }

    bool Fail(std::string what) {
        m_error = std::move(what);
        return false;
    }

    bool ParseNumber(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out) {
        std::string_view digits = text;
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
            base = 16;
        }
        std::int64_t value = 0;
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
        if (digits.empty() || ec == std::errc::invalid_argument ||
            end != digits.data() + digits.size()) {
            return Fail(Quote(text) + " is not a number");
        }
        if (ec == std::errc::result_out_of_range || value < min || value > max) {
            return Fail(Quote(text) + " is out of range " + std::to_string(min) + ".." +
                        std::to_string(max));
        }
        out = value;
        return true;
    }

    bool ParseByte(std::string_view value, std::int64_t max, std::optional<std::uint8_t>& out) {
        if (out) return Fail("given twice");
        std::int64_t number = 0;
        if (!ParseNumber(value, 0, max, number)) return false;
        out = static_cast<std::uint8_t>(number);
        return true;
    }

    bool ParseMoment(std::string_view value, Moment& moment) {
        const auto colon = value.find(':');
        const std::string_view name = value.substr(0, colon);
        const bool indexed = name == "erase" || name == "write";
        if (name == "identity")
            moment.stage = Stage::kIdentity;
        else if (name == "begin")
            moment.stage = Stage::kBegin;
        else if (name == "erase")
            moment.stage = Stage::kErase;
        else if (name == "write")
            moment.stage = Stage::kWrite;
        else if (name == "end")
            moment.stage = Stage::kEnd;
        else
            return Fail("unknown stage " + Quote(name) + " (expected one of " +
                        std::string(kStageNames) + ")");
        if (indexed != (colon != std::string_view::npos)) {
            return Fail(indexed ? "stage " + Quote(name) + " needs a number: " + std::string(name) +
                                      ":N"
                                : "stage " + Quote(name) + " takes no number");
        }
        if (!indexed) return true;
        std::int64_t index = 0;
        if (!ParseNumber(value.substr(colon + 1), 0, kMaxIndex, index)) return false;
        moment.index = static_cast<std::int32_t>(index);
        return true;
    }

    bool ParseRowFault(std::string_view value, std::string_view shape, std::int64_t minValue,
                       std::int64_t maxValue, std::vector<RowFault>& list) {
        const auto colon = value.find(':');
        if (colon == std::string_view::npos) return Fail("expected " + std::string(shape));
        std::int64_t index = 0;
        std::int64_t second = 0;
        if (!ParseNumber(value.substr(0, colon), 0, kMaxIndex, index)) return false;
        if (!ParseNumber(value.substr(colon + 1), minValue, maxValue, second)) return false;
        for (const RowFault& fault : list) {
            if (fault.index == index) return Fail("given twice for " + std::to_string(index));
        }
        list.push_back({static_cast<std::int32_t>(index), static_cast<std::int32_t>(second)});
        return true;
    }

    bool ParseInject(std::string_view value) {
        const auto at = value.find('@');
        if (at == std::string_view::npos) return Fail("expected MESSAGE@STAGE");
        const std::string_view name = value.substr(0, at);
        Inject inject;
        bool known = false;
        for (const InjectionName& entry : kInjectionNames) {
            if (entry.name == name) {
                inject.message = entry.message;
                known = true;
            }
        }
        if (!known) {
            std::string names;
            for (const InjectionName& entry : kInjectionNames) {
                names += (names.empty() ? "" : ", ") + std::string(entry.name);
            }
            return Fail("unknown message " + Quote(name) + " (expected one of " + names + ")");
        }
        if (!ParseMoment(value.substr(at + 1), inject.moment)) return false;
        for (const Inject& other : m_faults.injections) {
            if (other == inject) return Fail("given twice");
        }
        m_faults.injections.push_back(inject);
        return true;
    }

    Faults& m_faults;
    std::string& m_error;
};

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string MomentText(const Moment& moment) {
    switch (moment.stage) {
        case Stage::kIdentity:
            return "identity";
        case Stage::kBegin:
            return "begin";
        case Stage::kErase:
            return "erase:" + std::to_string(moment.index);
        case Stage::kWrite:
            return "write:" + std::to_string(moment.index);
        case Stage::kEnd:
            return "end";
    }
    return {};
}

}  // namespace

bool ParseFaults(std::string_view text, Faults* faults, std::string* error) {
    Faults parsed;
    std::string why;
    CItemParser parser(parsed, why);
    if (!Trim(text).empty()) {
        for (std::string_view rest = text;;) {
            const auto comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            if (item.empty()) {
                *error = "empty fault item in " + Quote(text);
                return false;
            }
            if (!parser.Parse(item)) {
                *error = "fault " + Quote(item) + ": " + why;
                return false;
            }
            if (comma == std::string_view::npos) break;
            rest = rest.substr(comma + 1);
        }
    }
    *faults = std::move(parsed);
    return true;
}

std::string FormatFaults(const Faults& faults) {
    std::string text;
    auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ",") + item; };
    auto addRows = [&add](const char* key, const std::vector<RowFault>& list) {
        for (const RowFault& f : list) {
            add(std::string(key) + "=" + std::to_string(f.index) + ":" + std::to_string(f.value));
        }
    };
    if (faults.family) add("family=" + Hex(*faults.family));
    if (faults.notUpdateMode) add("not-update-mode");
    if (faults.beginStatus) add("begin-status=" + std::to_string(*faults.beginStatus));
    if (faults.endStatus) add("end-status=" + std::to_string(*faults.endStatus));
    if (faults.silentFrom) add("silent=" + MomentText(*faults.silentFrom));
    addRows("drop", faults.drops);
    addRows("late-ack", faults.lateAcks);
    addRows("crc", faults.crcErrors);
    addRows("flash-error", faults.flashErrors);
    addRows("erase-refuse", faults.eraseRefusals);
    for (const Inject& inject : faults.injections) {
        for (const InjectionName& entry : kInjectionNames) {
            if (entry.message == inject.message) {
                add("inject=" + std::string(entry.name) + "@" + MomentText(inject.moment));
            }
        }
    }
    return text;
}

}  // namespace sim
