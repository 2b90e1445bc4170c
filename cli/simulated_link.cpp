#include "cli/simulated_link.h"

#include <array>
#include <span>

#include "resources/embedded_resources.h"

namespace cli {

std::unique_ptr<SimulatedLink> SimulatedLink::Create(const std::string& name,
                                                     const std::string& faults,
                                                     std::string* error) {
    sim::Options options;
    if (!sim::ParseFaults(faults, &options.faults, error)) {
        return nullptr;
    }
    return std::unique_ptr<SimulatedLink>(new SimulatedLink(name, std::move(options)));
}

void SimulatedLink::PrintVerdict(std::FILE* out) const {
    std::array<std::span<const std::uint8_t>, 3> images;
    for (std::size_t i = 0; i < images.size(); ++i) {
        images[i] = rx::EmbeddedImage(sim::kRegions[i].imageId);
    }
    std::fprintf(out, "Simulated unit:\n%s", m_unit.Unit().Summary(images).c_str());
    std::fflush(out);
}

}  // namespace cli
