// What rx300-sim prints about its unit: the unit's summary, with each region checked against
// the image built into this program, and the answers the host gave to the unit's own messages.
#pragma once

#include <string>

#include "sim/sim_unit.h"

// True when all three regions equal the images built into this program.
bool FlashVerified(const sim::CSimUnit& unit);

// Ends with the line "flash: verified", "flash: differs" or "flash: not checked".
std::string Report(const sim::CSimUnit& unit);
