#include <cstdlib>

#include <gtest/gtest.h>

#include "sys/data_folder.h"
#include "sys/executable.h"

namespace zelmo {
namespace {

struct Case {
  const char* what;
  DataFolderPlaces places;
  const char* folder;
};

TEST(DataFolder, TheOrderOfTheChoices) {
  const Case cases[] = {
      {"ZELMO_DIR wins over an installed program's data folder",
       {"/usr/bin", "/srv/till", "/home/ana/data", "/home/ana"},
       "/srv/till"},
      {"ZELMO_DIR wins over the build tree", {"/src/zelmo/build", "shop", "", "/home/ana"}, "shop"},
      {"a build tree keeps its files beside itself",
       {"/src/zelmo/build", "", "", "/home/ana"},
       "/src/zelmo/build"},
      {"a folder merely containing bin is no installation",
       {"/opt/bin/zelmo", "", "", "/home/ana"},
       "/opt/bin/zelmo"},
      {"installed, XDG_DATA_HOME set",
       {"/usr/bin", "", "/home/ana/data", "/home/ana"},
       "/home/ana/data/zelmo"},
      {"installed under /usr/local, no XDG_DATA_HOME",
       {"/usr/local/bin", "", "", "/home/ana"},
       "/home/ana/.local/share/zelmo"},
      {"a relative XDG_DATA_HOME is ignored",
       {"/usr/bin", "", "data", "/home/ana"},
       "/home/ana/.local/share/zelmo"},
      {"no home at all: beside the program, as before", {"/usr/bin", "", "", ""}, "/usr/bin"},
      {"a relative HOME is no home", {"/usr/bin", "", "", "ana"}, "/usr/bin"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDataFolder(c.places), std::filesystem::path(c.folder)) << c.what;
  }
}

TEST(DataFolder, TheEnvironmentIsWhatTheRunningProgramSees) {
  const char* saved = std::getenv("ZELMO_DIR");
  const std::string before = saved ? saved : "";
  setenv("ZELMO_DIR", "/srv/till", 1);
  EXPECT_EQ(DefaultDataFolder(), std::filesystem::path("/srv/till"));
  // The test program lives in the build tree: without the variable, its own folder.
  unsetenv("ZELMO_DIR");
  EXPECT_EQ(DefaultDataFolder(), ExecutablePath().parent_path());
  if (saved) setenv("ZELMO_DIR", before.c_str(), 1);
}

}  // namespace
}  // namespace zelmo
