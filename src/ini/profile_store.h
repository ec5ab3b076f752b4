// Where CIniFile's reads and writes go: the three private-profile calls and the file search of
// kernel32, with the texts of their narrow forms. The POSIX store runs our own engine over real
// files; the Windows store calls kernel32's wide forms, its texts passed through the ANSI code
// page as the narrow forms pass them. CIniFile must get the same results from both, so each
// operation below states what it returns, as the Windows function does.
//
// Texts (section, key, values, the buffer) are bytes in code page 1251 and NUL-terminated; a
// nullptr stands for an absent argument (NULL in the Win32 call). Paths are UTF-8. A file in
// UTF-16 LE behind its byte order mark is read and written in UTF-16, as Windows does; its
// characters come and go as 1251 bytes, "?" for one that 1251 has no code for.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zelmo {

// A search handle of FindFirst; kInvalidFindHandle (all bits set) when nothing matched.
using FindHandle = std::intptr_t;
inline constexpr FindHandle kInvalidFindHandle = -1;

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;

  // GetPrivateProfileStringA.
  // With section and key: copies the key's value, or `defaultText` when the file, the section or
  // the key is missing or the key's line has no "=", cut to buffer.size() - 1 and NUL-terminated;
  // returns its length. Blanks around the names asked for do not count. One pair of quotes around
  // the value is removed. A cut value returns size - 1.
  // With key absent: the key names of the section, whose name is taken as given, blanks and all
  // (lines without "=" and lines starting with ";" are not listed); with section absent: the
  // section names of the file. Every name is followed by one NUL and the list by one more; the
  // result counts the names and their NULs, not the closing NUL. A list that does not fit is cut in
  // its last name, which then has no NUL within the result, and the result is size - 2. A missing
  // section gives 0. A file that exists but cannot be read (a folder, no permission) throws
  // std::system_error.
  virtual uint32_t GetString(const char* section, const char* key, const char* defaultText,
                             std::span<char> buffer, const std::string& path) = 0;

  // GetPrivateProfileIntA: the value read as a number ("12abc" is 12, "0x10" is 16, "abc" 0,
  // digits beyond 32 bits wrap), or `defaultNumber` when the key is missing or empty. The 32 bits
  // are returned as they are; the caller decides whether they are signed. Unreadable file: as
  // GetString.
  virtual uint32_t GetInt(const char* section, const char* key, int32_t defaultNumber,
                          const std::string& path) = 0;

  // WritePrivateProfileStringA. Returns true when done, false when refused (read-only folder, no
  // permission, unreadable file); it does not throw for those.
  //   section, key, text:  key = text in the section; the file and section are made as needed.
  //                        Blanks around the names and before the text are dropped, those after
  //                        the text are written. A line "key" without "=" becomes "key=text".
  //   section, key, null:  deletes the key. Deleting what is not there is done too. Names are
  //                        taken as given here: " key" deletes nothing.
  //   section, null, any:  deletes the first section of the name (as given) with its keys.
  //   all three null:      flushes the file; always returns false, as Windows documents.
  // A delete never creates a missing file.
  virtual bool WriteString(const char* section, const char* key, const char* text,
                           const std::string& path) = 0;

  // FindFirstFileA: a handle when some directory entry matches `pattern` (a path whose last part
  // may hold * and ?), a folder counts; kInvalidFindHandle when nothing matches or the pattern is
  // empty. A handle must be closed with CloseFind.
  virtual FindHandle FindFirst(const std::string& pattern) = 0;

  // FindClose: true on success.
  virtual bool CloseFind(FindHandle handle) = 0;
};

// The store of the platform the program was built for.
ProfileStore& PlatformProfileStore();

}  // namespace zelmo
