// The folder of a run's settings and receipts when no --dir is given: where the point-of-sale
// program drops smetka.txt and where Zelmocfg.ini lives.
#pragma once

#include <filesystem>
#include <string>

namespace zelmo {

// On Windows the program's own folder, always. On Linux the folder named by ZELMO_DIR; else,
// for an installed program (one in a bin folder, such as /usr/bin, which its users cannot
// write), the user's data folder, $XDG_DATA_HOME/zelmo or ~/.local/share/zelmo, made when
// missing; else (a build tree, an unpacked copy) the program's own folder.
std::filesystem::path DefaultDataFolder();

// What the choice on POSIX systems depends on; empty texts stand for unset variables.
struct DataFolderPlaces {
  std::filesystem::path program_folder;
  std::string zelmo_dir;      // ZELMO_DIR
  std::string xdg_data_home;  // XDG_DATA_HOME
  std::string home;           // HOME
};

// The choice itself, without looking at the system; whether the folder must be made is left to
// the caller.
std::filesystem::path ChooseDataFolder(const DataFolderPlaces& places);

}  // namespace zelmo
