#include "sim/faults.h"

#include <gtest/gtest.h>

namespace {

using sim::Faults;
using sim::Injection;
using sim::Moment;
using sim::Stage;

Faults Parsed(const std::string& text) {
    Faults faults;
    std::string error;
    EXPECT_TRUE(sim::ParseFaults(text, &faults, &error)) << text << ": " << error;
    return faults;
}

struct Accepted {
    const char* text;
    Faults expected;
};

Faults With(void (*fill)(Faults&)) {
    Faults faults;
    fill(faults);
    return faults;
}

const Accepted kAccepted[] = {
    {"", {}},
    {"  ", {}},
    {"late-ack=17:1200,crc=40:3", With([](Faults& f) {
         f.lateAcks = {{17, 1200}};
         f.crcErrors = {{40, 3}};
     })},
    {" family=0x41 , end-status=5", With([](Faults& f) {
         f.family = 0x41;
         f.endStatus = 5;
     })},
    {"family=88", With([](Faults& f) { f.family = 0x58; })},
    {"not-update-mode", With([](Faults& f) { f.notUpdateMode = true; })},
    {"begin-status=0x7F", With([](Faults& f) { f.beginStatus = 0x7F; })},
    {"silent=identity", With([](Faults& f) { f.silentFrom = Moment{Stage::kIdentity}; })},
    {"silent=begin", With([](Faults& f) { f.silentFrom = Moment{Stage::kBegin}; })},
    {"silent=erase:3", With([](Faults& f) {
         f.silentFrom = Moment{Stage::kErase, 3};
     })},
    {"silent=write:0x10", With([](Faults& f) {
         f.silentFrom = Moment{Stage::kWrite, 16};
     })},
    {"silent=end", With([](Faults& f) { f.silentFrom = Moment{Stage::kEnd}; })},
    {"drop=2:1,drop=3:6,flash-error=3:2,erase-refuse=1:7", With([](Faults& f) {
         f.drops = {{2, 1}, {3, 6}};
         f.flashErrors = {{3, 2}};
         f.eraseRefusals = {{1, 7}};
     })},
    {"late-ack=0:0", With([](Faults& f) {
         f.lateAcks = {{0, 0}};
     })},
    {"inject=identity-request@write:10,inject=no-f0@end,inject=oversize@erase:0",
     With([](Faults& f) {
         f.injections = {{Injection::kIdentityRequest, {Stage::kWrite, 10}},
                         {Injection::kNoF0, {Stage::kEnd}},
                         {Injection::kOversize, {Stage::kErase, 0}}};
     })},
    {"inject=begin-update@begin,inject=end-update@identity,inject=unknown-command@write:1,"
     "inject=wrong-model@write:1,inject=truncated@write:2",
     With([](Faults& f) {
         f.injections = {{Injection::kBeginUpdate, {Stage::kBegin}},
                         {Injection::kEndUpdate, {Stage::kIdentity}},
                         {Injection::kUnknownCommand, {Stage::kWrite, 1}},
                         {Injection::kWrongModel, {Stage::kWrite, 1}},
                         {Injection::kTruncated, {Stage::kWrite, 2}}};
     })},
};

TEST(FaultsParse, AcceptsEveryKindAndReadsItsNumbers) {
    for (const Accepted& c : kAccepted) {
        EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
    }
}

TEST(FaultsParse, FormattedTextReadsBackToTheSameFaults) {
    for (const Accepted& c : kAccepted) {
        const std::string text = sim::FormatFaults(c.expected);
        EXPECT_EQ(Parsed(text), c.expected) << c.text << " -> " << text;
    }
    EXPECT_EQ(sim::FormatFaults(Parsed(" crc=40:3 ,late-ack=17:1200,family=65")),
              "family=0x41,late-ack=17:1200,crc=40:3");
}

struct Rejected {
    const char* text;
    const char* message;
};

const Rejected kRejected[] = {
    {"foo", "fault \"foo\": unknown fault (expected one of family, not-update-mode"},
    {"crc=1:1,,drop=2:1", "empty fault item"},
    {"crc=1:1,", "empty fault item"},
    {"crc=40", "fault \"crc=40\": expected N:K"},
    {"erase-refuse=4", "expected R:K"},
    {"late-ack=4", "expected N:MS"},
    {"crc=40:0", "\"0\" is out of range 1.."},
    {"crc=x:1", "\"x\" is not a number"},
    {"crc=1:2x", "\"2x\" is not a number"},
    {"crc=-1:2", "\"-1\" is out of range"},
    {"drop=99999999999:1", "is out of range"},
    {"drop=999999999999999999999:1", "is out of range"},
    {"late-ack=1:600001", "\"600001\" is out of range 0..600000"},
    {"family=0x80", "\"0x80\" is out of range 0..127"},
    {"family=0x", "\"0x\" is not a number"},
    {"end-status=", "\"\" is not a number"},
    {"family", "fault \"family\": needs a value"},
    {"not-update-mode=1", "takes no value"},
    {"not-update-mode,not-update-mode", "given twice"},
    {"end-status=1,end-status=2", "fault \"end-status=2\": given twice"},
    {"crc=1:1,crc=1:2", "given twice for 1"},
    {"inject=truncated@end,inject=truncated@end", "given twice"},
    {"not-update-mode,begin-status=3", "conflicts with not-update-mode"},
    {"begin-status=3,not-update-mode", "conflicts with begin-status"},
    {"silent=write", "stage \"write\" needs a number: write:N"},
    {"silent=end:3", "stage \"end\" takes no number"},
    {"silent=later", "unknown stage \"later\" (expected one of identity, begin"},
    {"silent=begin,silent=end", "given twice"},
    {"inject=bogus@end", "unknown message \"bogus\" (expected one of identity-request"},
    {"inject=truncated", "expected MESSAGE@STAGE"},
    {"inject=truncated@write:z", "\"z\" is not a number"},
};

TEST(FaultsParse, RejectsBadTextNamingTheItemAndLeavesFaultsAlone) {
    for (const Rejected& c : kRejected) {
        Faults faults;
        faults.endStatus = 42;
        std::string error;
        EXPECT_FALSE(sim::ParseFaults(c.text, &faults, &error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " gave: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(faults.endStatus, 42) << c.text;
        EXPECT_TRUE(faults.crcErrors.empty()) << c.text;
    }
}

}  // namespace
