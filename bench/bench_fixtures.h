// Inputs shared by the benchmarks: receipt lines as a point-of-sale program writes them, and a
// scratch folder for the files the bridge reads.
#pragma once

#include <filesystem>
#include <string>

namespace bench {

// Line `index` of a receipt, in UTF-8: Cyrillic name, quantity, tax group, unit price.
std::string ReceiptLine(int index);

// A receipt file of `lines` items, code page 1251, CR LF after each line.
std::string ReceiptFile(int lines);

// A settings file of `lines` lines in which the four settings sit last, after unrelated sections
// and keys, so a lookup walks the whole file.
std::string SettingsFile(int lines);

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to `name` in the folder and returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace bench
