#include "sys/data_folder.h"
#include "sys/executable.h"

namespace zelmo {

// The point-of-sale programs drop the receipt beside zelmo.exe: the installer puts it in a
// folder its operators can write.
std::filesystem::path DefaultDataFolder() {
  return ExecutablePath().parent_path();
}

}  // namespace zelmo
