#include "ini/ini_file.h"

#include <array>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "ini/profile_store.h"
#include "sys/executable.h"
#include "text/cp1251.h"

namespace zelmo {
namespace {

// A value comes back as at most 254 characters; a list of names as at most 8192.
constexpr size_t kValueBufferSize = 255;
constexpr size_t kListBufferSize = 8192;

const char* Description(int32_t number) {
  switch (number) {
    case kIniInvalidFileName:
      return "Invalid file name";
    case kIniFileNotFound:
      return "File not found";
    case kIniNotInitialized:
      return "Object not properly initialized";
    case kIniInvalidSection:
      return "Invalid section";
    case kIniInvalidKey:
      return "Invalid key";
    default:
      return "CIniFile component failure";
  }
}

// The source names the program as it is called now, so it is formed at each raise.
[[noreturn]] void Raise(int32_t number) {
  throw IniError(number, ExecutableStem() + ".CIniFile", Description(number));
}

// Every member runs its body in this trap. The errors a member raises itself pass as they are;
// any other failure inside (the store, an overflow) becomes a component failure, and what it
// said is dropped.
template <typename Body>
auto Trapped(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const IniError&) {
    throw;
  } catch (...) {
    Raise(kIniComponentFailure);
  }
}

int16_t Narrow16(int32_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    throw std::overflow_error("value out of the 16-bit range");
  }
  return static_cast<int16_t>(value);
}

// The names of a list the store placed in the buffer: each ends at a NUL. What follows the last
// NUL is a name cut off by the buffer, and is dropped.
std::vector<std::string> SplitNames(std::span<const char> list, bool keepEmpty) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] != '\0') continue;
    if (i > start || keepEmpty) names.push_back(AnsiToUtf8({list.data() + start, i - start}));
    start = i + 1;
  }
  return names;
}

// A CR or LF would go into the file as it is and end the line there: what follows it would read
// as a section or a key of its own. A NUL would cut the text short without a word.
bool BreaksTheLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// One of the list reads: the key names of `section`, or the section names when it is null.
std::vector<std::string> ReadNames(ProfileStore& store, const char* section,
                                   const std::string& defaultText, const std::string& path,
                                   bool keepEmpty) {
  std::vector<char> buffer(kListBufferSize, ' ');
  const uint32_t n = store.GetString(section, nullptr, defaultText.c_str(), buffer, path);
  if (n > buffer.size()) throw std::length_error("list longer than its buffer");
  return SplitNames(std::span<const char>(buffer.data(), n), keepEmpty);
}

}  // namespace

IniError::IniError(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

CIniFile::CIniFile() : CIniFile(PlatformProfileStore()) {}

CIniFile::CIniFile(ProfileStore& store) : store_(store) {}

void CIniFile::Init(const std::string& FileName) {
  this->FileName(FileName);
}

void CIniFile::FileName(const std::string& Value) {
  Trapped([&] {
    if (Value.empty()) Raise(kIniInvalidFileName);
    sFileName = Value;
  });
}

const std::string& CIniFile::FileName() const {
  return sFileName;
}

void CIniFile::RequireBound() const {
  if (sFileName.empty()) Raise(kIniNotInitialized);
}

void CIniFile::RequireExistingFile() {
  RequireBound();
  if (!FileExists(sFileName)) Raise(kIniFileNotFound);
}

bool CIniFile::DeleteKey(const std::string& Section, const std::string& Key) {
  return Trapped([&] {
    RequireExistingFile();
    if (Section.empty()) Raise(kIniInvalidSection);
    if (Key.empty()) Raise(kIniInvalidKey);
    const bool done = store_.WriteString(Utf8ToAnsi(Section).c_str(), Utf8ToAnsi(Key).c_str(),
                                         nullptr, sFileName);
    store_.WriteString(nullptr, nullptr, nullptr, sFileName);
    return done;
  });
}

bool CIniFile::DeleteSection(const std::string& Section) {
  return Trapped([&] {
    RequireExistingFile();
    if (Section.empty()) Raise(kIniInvalidSection);
    const bool done = store_.WriteString(Utf8ToAnsi(Section).c_str(), nullptr, nullptr, sFileName);
    store_.WriteString(nullptr, nullptr, nullptr, sFileName);
    return done;
  });
}

int32_t CIniFile::EnumerateAllKeys(const std::string& Section, std::vector<std::string>& Key) {
  return Trapped([&] {
    RequireExistingFile();
    if (Section.empty()) Raise(kIniInvalidSection);
    // A key with an empty name ("=value") is a name all the same.
    Key = ReadNames(store_, Utf8ToAnsi(Section).c_str(), sDefaultText, sFileName, true);
    return static_cast<int32_t>(Key.size());
  });
}

int32_t CIniFile::EnumerateAllSections(std::vector<std::string>& Sections) {
  return Trapped([&] {
    RequireExistingFile();
    Sections = ReadNames(store_, nullptr, sDefaultText, sFileName, false);
    return static_cast<int32_t>(Sections.size());
  });
}

int16_t CIniFile::GetNumericValue(const std::string& Section, const std::string& Key) {
  return Trapped([&] {
    RequireExistingFile();
    const uint32_t bits =
        store_.GetInt(Utf8ToAnsi(Section).c_str(), Utf8ToAnsi(Key).c_str(), -1, sFileName);
    return Narrow16(static_cast<int32_t>(bits));
  });
}

std::string CIniFile::GetStringValue(const std::string& Section, const std::string& Key) {
  return Trapped([&] {
    RequireExistingFile();
    std::array<char, kValueBufferSize> buffer{};
    const uint32_t n = store_.GetString(Utf8ToAnsi(Section).c_str(), Utf8ToAnsi(Key).c_str(), "",
                                        buffer, sFileName);
    if (n == 0) return std::string();
    return AnsiToUtf8({buffer.data(), strnlen(buffer.data(), buffer.size())});
  });
}

void CIniFile::SaveNumericValue(const std::string& Section, const std::string& Key, int16_t iData) {
  SaveStringValue(Section, Key, std::to_string(iData));
}

void CIniFile::SaveStringValue(const std::string& Section, const std::string& Key,
                               const std::string& sText) {
  Trapped([&] {
    RequireBound();
    if (Section.empty() || BreaksTheLine(Section)) Raise(kIniInvalidSection);
    if (Key.empty() || BreaksTheLine(Key)) Raise(kIniInvalidKey);
    // The error table has no number for a bad value: it is one of the component's failures.
    if (BreaksTheLine(sText)) Raise(kIniComponentFailure);
    const bool written = store_.WriteString(Utf8ToAnsi(Section).c_str(), Utf8ToAnsi(Key).c_str(),
                                            Utf8ToAnsi(sText).c_str(), sFileName);
    store_.WriteString(nullptr, nullptr, nullptr, sFileName);
    // A refused write (read-only folder, no permission) must not pass for saved settings.
    if (!written) throw std::runtime_error("the settings file refused the write");
  });
}

bool CIniFile::FileExists(const std::string& FileName) {
  return Trapped([&] {
    const FindHandle search = store_.FindFirst(FileName);
    if (search == kInvalidFindHandle) return false;
    if (!store_.CloseFind(search)) Raise(kIniComponentFailure);
    return true;
  });
}

}  // namespace zelmo
