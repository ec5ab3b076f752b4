// CIniFile: one INI settings file, named by its full path. Every read and write goes to the file
// at the moment of the call; nothing of its content is kept. Problems are raised as IniError with
// the number, source and description that callers and support people know.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelmo {

class ProfileStore;

enum IniErrorNumber : int32_t {
  kIniInvalidFileName = static_cast<int32_t>(0x80044511),
  kIniFileNotFound = static_cast<int32_t>(0x80044512),
  kIniNotInitialized = static_cast<int32_t>(0x80044513),
  kIniInvalidSection = static_cast<int32_t>(0x80044514),
  kIniInvalidKey = static_cast<int32_t>(0x80044515),
  kIniComponentFailure = static_cast<int32_t>(0x80044516),
};

class IniError : public std::runtime_error {
 public:
  IniError(int32_t number, std::string source, std::string description);
  int32_t number() const { return number_; }
  // The executable's name without extension, then ".CIniFile".
  const std::string& source() const { return source_; }
  // "Invalid file name", "File not found", ... exactly as in the error table.
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string source_, description_;
};

// Texts (sections, keys, values) are UTF-8 here and code page 1251 in the file.
class CIniFile {
 public:
  CIniFile();  // the platform's own profile store
  explicit CIniFile(ProfileStore& store);

  void Init(const std::string& FileName);
  void FileName(const std::string& Value);
  const std::string& FileName() const;
  bool DeleteKey(const std::string& Section, const std::string& Key);
  bool DeleteSection(const std::string& Section);
  // Positions are zero-based here: Key[i] is the name at position i + 1.
  int32_t EnumerateAllKeys(const std::string& Section, std::vector<std::string>& Key);
  int32_t EnumerateAllSections(std::vector<std::string>& Sections);
  int16_t GetNumericValue(const std::string& Section, const std::string& Key);
  std::string GetStringValue(const std::string& Section, const std::string& Key);
  void SaveNumericValue(const std::string& Section, const std::string& Key, int16_t iData);
  // A section or key with a CR, LF or NUL in it raises kIniInvalidSection or kIniInvalidKey, a
  // value with one kIniComponentFailure; nothing is written then.
  void SaveStringValue(const std::string& Section, const std::string& Key,
                       const std::string& sText);
  bool FileExists(const std::string& FileName);

 private:
  // The checks that open most members, each raising its error.
  void RequireBound() const;
  void RequireExistingFile();

  ProfileStore& store_;
  std::string sFileName;
  const std::string sDefaultText;
};

}  // namespace zelmo
