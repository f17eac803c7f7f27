// Data linked into the program: the splash and about box pictures.
#pragma once

namespace pellwick {

// Registers the resources with Qt; any number of calls, from the GUI thread. A static library's
// resources are only linked in when something refers to them, and this call is that reference.
void InitResources();

inline constexpr const char* kSplashPicturePath = ":/pellwick/splash.png";
inline constexpr const char* kAboutPicturePath = ":/pellwick/about.jpg";

} // namespace pellwick
