// The simulated unit's faults, written as one short text that the command line and the tests
// share. Items are separated by commas; blanks around an item are ignored; numbers are decimal
// or 0x-hex. An empty text is a healthy unit.
//
//   family=F              the unit is of family F (0..0x7F): its Identity Reply carries F and
//                         it ignores manufacturer messages with another model byte
//   not-update-mode       Begin Update answered with status 11
//   begin-status=S        Begin Update answered with status S (0..127)
//   end-status=S          End Update answered with status S
//   silent=STAGE          from STAGE on, the unit sends nothing at all
//   drop=N:K              the first K sends of block N are lost: not written, not answered
//   late-ack=N:MS         the answer to block N's first send leaves MS ms (0..600000) late;
//                         the unit handles nothing else meanwhile
//   crc=N:K               the first K sends of block N answered 8, not written
//   flash-error=N:K       the first K sends of block N answered 3, not written
//   erase-refuse=R:K      the first K sends of erase row R answered 3, not erased
//   inject=MESSAGE@STAGE  the unit sends MESSAGE when STAGE comes, before its answer
//
//   STAGE:   identity | begin | erase:R | write:N | end
//   MESSAGE: identity-request | begin-update | end-update | unknown-command (command 40)
//            | wrong-model (Status 0 of the other accepted family) | truncated (a Status cut
//            after its command byte) | oversize (9,000 bytes) | no-f0 (Status 0 without F0)
//
// Block N is the N-th distinct Write Block of an update, counted by address from 0; erase row R
// the R-th distinct Erase Range likewise. An update starts at each Identity Request the unit
// receives, and so do the counts behind K. A stage comes with the first send of its message
// within an update. For one block, drop takes the first sends, then crc, then flash-error.
// Several drop, late-ack, crc, flash-error, erase-refuse and inject items may be given, each
// block or row at most once per kind; every other item at most once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Stage { kIdentity, kBegin, kErase, kWrite, kEnd };

struct Moment {
    Stage stage = Stage::kIdentity;
    // Erase row or block number for kErase and kWrite.
    std::int32_t index = 0;
    bool operator==(const Moment&) const = default;
};

enum class Injection {
    kIdentityRequest,
    kBeginUpdate,
    kEndUpdate,
    kUnknownCommand,
    kWrongModel,
    kTruncated,
    kOversize,
    kNoF0,
};

struct Inject {
    Injection message = Injection::kIdentityRequest;
    Moment moment;
    bool operator==(const Inject&) const = default;
};

// A fault on one block or erase row: `value` is K (a count of sends) or, for late-ack, MS.
struct RowFault {
    std::int32_t index = 0;
    std::int32_t value = 0;
    bool operator==(const RowFault&) const = default;
};

struct Faults {
    std::optional<std::uint8_t> family;
    bool notUpdateMode = false;
    std::optional<std::uint8_t> beginStatus;
    std::optional<std::uint8_t> endStatus;
    std::optional<Moment> silentFrom;
    std::vector<RowFault> drops;
    std::vector<RowFault> lateAcks;
    std::vector<RowFault> crcErrors;
    std::vector<RowFault> flashErrors;
    std::vector<RowFault> eraseRefusals;
    std::vector<Inject> injections;
    bool operator==(const Faults&) const = default;
};

// Fills `faults` from `text`. On bad text returns false, leaves `faults` alone and puts one line
// naming the offending item and what was expected into `error`.
[[nodiscard]] bool ParseFaults(std::string_view text, Faults* faults, std::string* error);

// The canonical text of `faults`, which ParseFaults reads back to the same settings.
std::string FormatFaults(const Faults& faults);

}  // namespace sim
