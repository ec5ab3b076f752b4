#include <cstdlib>
#include <system_error>

#include "sys/data_folder.h"
#include "sys/executable.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool IsAbsolute(const std::string& text) {
  return !text.empty() && text.front() == '/';
}

// Installed programs live in PREFIX/bin beside PREFIX/lib/zelmo; a build tree or an unpacked
// copy keeps its files beside itself, as on Windows.
bool IsInstalled(const std::filesystem::path& program_folder) {
  return program_folder.filename() == "bin";
}

}  // namespace

std::filesystem::path ChooseDataFolder(const DataFolderPlaces& places) {
  if (!places.zelmo_dir.empty()) return Utf8ToPath(places.zelmo_dir);
  if (!IsInstalled(places.program_folder)) return places.program_folder;
  // Relative values are to be ignored, as the base directory rules say.
  if (IsAbsolute(places.xdg_data_home)) return Utf8ToPath(places.xdg_data_home) / "zelmo";
  if (IsAbsolute(places.home)) return Utf8ToPath(places.home) / ".local" / "share" / "zelmo";
  return places.program_folder;
}

std::filesystem::path DefaultDataFolder() {
  DataFolderPlaces places;
  places.program_folder = ExecutablePath().parent_path();
  places.zelmo_dir = Environment("ZELMO_DIR");
  places.xdg_data_home = Environment("XDG_DATA_HOME");
  places.home = Environment("HOME");
  std::filesystem::path folder = ChooseDataFolder(places);
  // The user's data folder is ours to make on the first run. A folder that cannot be made shows
  // up as the settings file that cannot be created.
  if (places.zelmo_dir.empty() && folder != places.program_folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
  }
  return folder;
}

}  // namespace zelmo
