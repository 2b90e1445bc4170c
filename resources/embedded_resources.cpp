#include "resources/embedded_resources.h"

#include <mutex>

#include "platform/resource.h"

extern "C" {
extern const std::uint8_t rx300_image_136[], rx300_image_136_end[];
extern const std::uint8_t rx300_image_133[], rx300_image_133_end[];
extern const std::uint8_t rx300_image_129[], rx300_image_129_end[];
}

namespace rx {

std::span<const std::uint8_t> EmbeddedImage(int id) {
    switch (id) {
        case kImageMain:
            return {rx300_image_136, rx300_image_136_end};
        case kImageSettings:
            return {rx300_image_133, rx300_image_133_end};
        case kImageData:
            return {rx300_image_129, rx300_image_129_end};
        default:
            return {};
    }
}

void RegisterEmbeddedResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int id : {kImageMain, kImageSettings, kImageData}) {
            auto image = EmbeddedImage(id);
            RegisterResource("BIN", id, image.data(), static_cast<DWORD>(image.size()));
        }
    });
}

}  // namespace rx
