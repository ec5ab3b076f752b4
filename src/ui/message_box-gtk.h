// The operator's modal message box on GTK 3.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "app/operator.h"

namespace zelmo {

// Shows the box over `parent` (or centred on the screen when there is none) and waits for the
// answer. GTK must be up. A question can only be answered Yes or No: closing it asks again.
// `*shown` holds the box while it waits, so that DismissMessageBox can take it away; the answer
// is then nothing.
std::optional<MsgAnswer> RunMessageBox(GtkWindow* parent, const std::string& text, MsgStyle style,
                                       const std::string& title, GtkWidget** shown);

// Ends the box that RunMessageBox is waiting on, without an answer.
void DismissMessageBox(GtkWidget* box);

}  // namespace zelmo
