#include "sim-app/report.h"

#include <array>
#include <cstdio>
#include <span>

#include "resources/embedded_resources.h"

namespace {

std::array<std::span<const std::uint8_t>, 3> Images() {
    std::array<std::span<const std::uint8_t>, 3> images;
    for (std::size_t i = 0; i < images.size(); ++i) {
        images[i] = rx::EmbeddedImage(sim::kRegions[i].imageId);
    }
    return images;
}

std::string HostAnswers(const sim::Record& record) {
    std::string text = "host status answers:";
    for (std::size_t i = 0; i < record.hostStatusCodes.size(); ++i) {
        text += (i == 0 ? " " : ", ") + std::to_string(record.hostStatusCodes[i]);
    }
    if (record.hostStatusCodes.empty()) {
        text += " none";
    }
    text += "\nhost identity reply: ";
    if (record.hostIdentityFamily) {
        char family[8];
        std::snprintf(family, sizeof family, "0x%02X", *record.hostIdentityFamily);
        text += family;
    } else {
        text += "none";
    }
    return text + "\n";
}

}  // namespace

bool FlashVerified(const sim::CSimUnit& unit) {
    const auto images = Images();
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (images[i].empty() || !unit.CheckRegion(sim::kRegions[i], images[i]).equal) {
            return false;
        }
    }
    return true;
}

std::string Report(const sim::CSimUnit& unit) {
    const auto images = Images();
    std::string text = unit.Summary(images);
    // Beside what the unit received, whose first line the summary is.
    const std::size_t received = text.find('\n') + 1;
    return text.insert(received, HostAnswers(unit.GetRecord()));
}
