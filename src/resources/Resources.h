// Data linked into the program: the splash and about box pictures, the program icon and the
// help pages.
#pragma once

namespace pellwick {

// Registers the resources with Qt; any number of calls, from the GUI thread. A static library's
// resources are only linked in when something refers to them, and this call is that reference.
void InitResources();

inline constexpr const char* kSplashPicturePath = ":/pellwick/splash.png";
inline constexpr const char* kAboutPicturePath = ":/pellwick/about.jpg";
inline constexpr const char* kIconPath = ":/pellwick/pellwick.png";
// The help pages: index.html is the table of contents.
inline constexpr const char* kHelpFolder = ":/pellwick/help/";

} // namespace pellwick
