// Whether a file can be a settings file at all, looked at once before anything is read from it
// or written back into it. A settings file is a few short lines of text; a file that is not (a
// folder, a device, one we may not read, binary bytes, a line no one writes by hand) would read
// as empty settings, get a section added and the run go on with defaults, so it is refused
// instead, with the reason.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zelmo {

// Longer than any key with the longest value the file can give back (254 characters).
inline constexpr std::size_t kMaxSettingsLine = 1024;

// Why the file at `path` (UTF-8) cannot be a settings file: in the system's words ("Is a
// directory", "Permission denied") or ours ("line 3 holds the byte 00h, which is not text");
// nothing when it can be one. Reads the file a chunk at a time and stops at the first problem.
// A file that starts with the UTF-16 LE byte order mark is looked at in characters of UTF-16.
std::optional<std::string> SettingsFileProblem(const std::string& path);

}  // namespace zelmo
