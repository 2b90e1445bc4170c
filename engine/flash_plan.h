// The fixed flash plan: seven rows that erase three regions of the unit's flash and write one
// firmware image into each, in this order.
#pragma once

#include <cstdint>
#include <span>

namespace rx {

enum PlanKind : std::int32_t { kPlanErase = 1, kPlanWrite = 2 };

struct PlanRow {
    std::int32_t kind;
    std::int32_t address;
    std::int32_t size;  // 0 in a write row: the whole image
    std::int32_t imageId;
};

// Row 1 erases the last 4 KiB of the region rows 6 and 7 rewrite, before anything else is
// touched.
constexpr PlanRow kFlashPlan[] = {
    {kPlanErase, 0xEF000, 0x1000, 0},    {kPlanErase, 0x0, 0x40000, 0},
    {kPlanWrite, 0x0, 0x40000, 136},     {kPlanErase, 0x3FD000, 0x3000, 0},
    {kPlanWrite, 0x3FD000, 0x3000, 133}, {kPlanErase, 0x40000, 0xB0000, 0},
    {kPlanWrite, 0x40000, 0xB0000, 129},
};

constexpr int kPlanRows = 7;
constexpr std::int32_t kBlockSize = 2048;

}  // namespace rx
