// What the end-to-end tests share beyond the harness: the usual hidden settings and receipt, and
// small checks on texts and folders.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// Hidden, the receipt deleted once the job is sent.
inline const std::string kHiddenClear = "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nClear=1\r\n";
// Two items: nine commands on the line.
inline const std::string kReceipt = "Bread;1;A;30\r\nMilk;2;B;45.5\r\n";

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The names in a folder, sorted.
inline std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A hidden job of `receipt` (deleted once sent) against a register with `options`.
struct HiddenJob {
  explicit HiddenJob(const std::vector<std::string>& options = {},
                     const std::string& receipt = kReceipt)
      : reg(scratch, options) {
    scratch.Config(reg.device(), kHiddenClear);
    scratch.Write("smetka.txt", receipt);
  }
  // The command line of zelmo on the console, in the job's folder.
  std::vector<std::string> Console() const {
    return {ZelmoBin(), "--console", "--dir", scratch.dir().string()};
  }

  Scratch scratch;
  Register reg;
};

}  // namespace e2e
