#include "platform/application_title.h"

namespace fc {

namespace {
std::string& Title() {
    static std::string title = "fcloader";
    return title;
}
}  // namespace

std::string ApplicationTitleFromPath(const std::string& executable_path) {
    const auto slash = executable_path.find_last_of('/');
    std::string name =
        slash == std::string::npos ? executable_path : executable_path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

void SetApplicationTitle(const std::string& title) {
    Title() = title;
}

const std::string& ApplicationTitle() {
    return Title();
}

}  // namespace fc
