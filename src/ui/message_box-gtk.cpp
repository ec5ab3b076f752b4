#include "ui/message_box-gtk.h"

namespace zelmo {
namespace {

// Ours, not one of GTK's: a box taken away by a close request.
constexpr int kDismissed = 1;

struct Look {
  GtkMessageType type;
  const char* iconName;  // nothing for the plain box
};

Look LookOf(MsgStyle style) {
  switch (style) {
    case MsgStyle::kInformation:
      return {GTK_MESSAGE_INFO, "dialog-information"};
    case MsgStyle::kError:
      return {GTK_MESSAGE_ERROR, "dialog-error"};
    case MsgStyle::kQuestion:
      return {GTK_MESSAGE_QUESTION, "dialog-question"};
    case MsgStyle::kPlain:
      break;
  }
  return {GTK_MESSAGE_OTHER, nullptr};
}

// Our texts separate their lines with CR LF; a GTK label wants LF alone.
std::string Lines(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

// GTK 3 no longer draws an icon in a message box by itself; the operator tells an error from a
// question by it, so it is put back.
void SetIcon(GtkWidget* dialog, const char* iconName) {
  if (!iconName) return;
  GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_show(image);
}

GtkWidget* MakeDialog(GtkWindow* parent, const std::string& text, MsgStyle style,
                      const std::string& title) {
  const Look look = LookOf(style);
  const bool question = style == MsgStyle::kQuestion;
  const auto flags =
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | (parent ? GTK_DIALOG_DESTROY_WITH_PARENT : 0));
  GtkWidget* dialog = gtk_message_dialog_new(parent, flags, look.type,
                                             question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                             Lines(text).c_str());
  GtkWindow* w = GTK_WINDOW(dialog);
  gtk_window_set_title(w, title.empty() ? kAppTitle : title.c_str());
  gtk_window_set_position(w, parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  // In the hidden mode the box is all the operator sees of the program.
  if (!parent) gtk_window_set_keep_above(w, TRUE);
  if (question) {
    gtk_window_set_deletable(w, FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
  }
  SetIcon(dialog, look.iconName);
  return dialog;
}

}  // namespace

std::optional<MsgAnswer> RunMessageBox(GtkWindow* parent, const std::string& text, MsgStyle style,
                                       const std::string& title, GtkWidget** shown) {
  GtkWidget* dialog = MakeDialog(parent, text, style, title);
  *shown = dialog;
  int response = GTK_RESPONSE_NONE;
  do {
    response = gtk_dialog_run(GTK_DIALOG(dialog));
  } while (style == MsgStyle::kQuestion && response == GTK_RESPONSE_DELETE_EVENT);
  *shown = nullptr;
  if (response != GTK_RESPONSE_NONE) gtk_widget_destroy(dialog);
  if (response == kDismissed) return std::nullopt;
  if (style != MsgStyle::kQuestion) return MsgAnswer::kOk;
  return response == GTK_RESPONSE_YES ? MsgAnswer::kYes : MsgAnswer::kNo;
}

void DismissMessageBox(GtkWidget* box) {
  gtk_dialog_response(GTK_DIALOG(box), kDismissed);
}

}  // namespace zelmo
