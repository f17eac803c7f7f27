// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
#pragma once

#include <string>

namespace pellwick {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty if the folder could not be made.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace pellwick
