#include "ui/display_check.h"

#include <cstdlib>
#include <string_view>

namespace ui {

namespace {
bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}
}  // namespace

bool displayAvailable() {
    if (const char* platform = std::getenv("QT_QPA_PLATFORM");
        platform != nullptr && *platform != '\0') {
        const std::string_view p(platform);
        if (!p.starts_with("xcb") && !p.starts_with("wayland")) {
            return true;
        }
    }
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

}  // namespace ui
