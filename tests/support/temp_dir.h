#pragma once

#include <string>

namespace fc::test {

// A fresh folder under TMPDIR, removed with everything in it at destruction.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "fcloader-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace fc::test
