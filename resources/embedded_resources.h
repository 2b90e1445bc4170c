// The resources built into the program: firmware images of type "BIN" with ids 136, 133, 129.
#pragma once

#include <cstdint>
#include <span>

namespace rx {

constexpr int kImageMain = 136;
constexpr int kImageSettings = 133;
constexpr int kImageData = 129;

// Makes the embedded images available to the resource lookup; safe to call more than once.
void RegisterEmbeddedResources();

// The embedded image with `id`, empty for an unknown id.
std::span<const std::uint8_t> EmbeddedImage(int id);

}  // namespace rx
