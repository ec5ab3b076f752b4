// frmMain's widgets on GTK 3: a fixed dialog whose client area is 268 x 60 pixels, with lblInfo
// across the top and btnPrint in the lower right corner. ListOfEvents has no widget here: it is
// never shown, so the front-end keeps its lines itself.
#pragma once

#include <gtk/gtk.h>

namespace zelmo {

struct MainWidgets {
  GtkWidget* window = nullptr;
  GtkWidget* lblInfo = nullptr;
  GtkWidget* btnPrint = nullptr;
};

// Builds the window, not yet shown. GTK must be up.
MainWidgets BuildMainWindow();

// Makes our icon the default of every window the program opens, message boxes included. GTK
// must be up.
void SetProgramIcon();

}  // namespace zelmo
