#include "resources/icons/app_icon.h"

#include <cstdint>
#include <mutex>

#include "platform/resource.h"
#include "resources/dialog_templates.h"

extern "C" {
extern const std::uint8_t rx300_icon_128[], rx300_icon_128_end[];
}

namespace rx {

void RegisterIconResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterResource("ICON", IDR_MAINFRAME, rx300_icon_128,
                         static_cast<DWORD>(rx300_icon_128_end - rx300_icon_128));
    });
}

}  // namespace rx
