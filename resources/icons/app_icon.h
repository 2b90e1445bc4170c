// Icon 128, the application icon: a PNG built into the program as resource "ICON" 128.
#pragma once

namespace rx {

// Safe to call more than once.
void RegisterIconResources();

}  // namespace rx
