#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace brivanta::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brivanta-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return (root_ / name).string(); }
    const std::filesystem::path& Root() const { return root_; }

  private:
    std::filesystem::path root_;
};

}  // namespace brivanta::test
