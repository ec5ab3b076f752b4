// A new file put in place whole or not at all: written under a name of its own beside the final
// one, flushed to the disk, then renamed. A failure at any step removes the temporary file, so
// nothing is left beside the final name.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmo {

// Which step failed and the system's reason for it.
class NewFileError : public std::runtime_error {
 public:
  NewFileError(const std::string& step, const std::string& reason)
      : std::runtime_error(step + ": " + reason), reason_(reason) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// Writes `bytes` as the file `path`, replacing nothing half-way.
void WriteNewFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace zelmo
