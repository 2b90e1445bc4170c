// --simulate: a simulated unit on an in-process virtual device pair, and its verdict on what
// the update left in its flash.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "sim/virtual_sim_unit.h"

namespace cli {

class SimulatedLink {
  public:
    // Null with `error` set when the fault text does not parse.
    static std::unique_ptr<SimulatedLink> Create(const std::string& name, const std::string& faults,
                                                 std::string* error);

    void PrintVerdict(std::FILE* out) const;

  private:
    explicit SimulatedLink(const std::string& name, sim::Options options)
        : m_unit(name, std::move(options)) {}

    sim::CVirtualSimUnit m_unit;
};

}  // namespace cli
