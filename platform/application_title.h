#pragma once

#include <string>

namespace fc {

// The application title is the executable's file name without its extension:
// the caption of every message box that names none and the profile's name.
std::string ApplicationTitleFromPath(const std::string& executable_path);

// Process-wide title, set once by the front end's main().
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

}  // namespace fc
