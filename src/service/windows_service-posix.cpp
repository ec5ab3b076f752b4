#include <cstdio>

#include "service/windows_service.h"

namespace zelmo::service {

// Here the system's service manager runs the print service: the Debian package's systemd unit
// starts `zelmo --serve` as its own user.
int RunServiceCommand(const ServiceCommand&) {
  std::fputs(
      "zelmo: --service is for the Windows service manager. Here run the print service with\n"
      "zelmo --serve, or as the system service of the package: systemctl enable --now zelmo\n",
      stderr);
  return 1;
}

}  // namespace zelmo::service
