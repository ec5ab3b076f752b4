#include "ui/main_window-gtk.h"

#include <cstdio>

#include "app/window.h"

namespace zelmo {
namespace {

// The original design is in twips; 15 of them are one pixel at 96 dots per inch.
constexpr int kClientWidth = 268, kClientHeight = 60;
constexpr int kLabelLeft = 6, kLabelTop = 8, kLabelWidth = 253, kLabelHeight = 19;
constexpr int kButtonLeft = 191, kButtonTop = 35, kButtonWidth = 75, kButtonHeight = 23;

#include "../../data/zelmo.xpm"

// Tahoma where it is installed, otherwise a sans face of about its build. Themes pad buttons for
// touch; ours must keep its 23 pixels.
constexpr const char* kCss =
    "#lblInfo { font-family: Tahoma, \"Liberation Sans\", Arimo, Arial, \"Nimbus Sans\", "
    "sans-serif; font-size: 9.75pt; font-weight: normal; font-style: normal; }\n"
    "#btnPrint { min-height: 0; min-width: 0; padding: 0 6px; }\n";
constexpr double kLabelPoints = 9.75, kSmallestPoints = 7.5;

void AddCss(GtkWidget* widget, const char* css, guint priority) {
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 priority);
  g_object_unref(provider);  // the style context keeps it
}

void Style(GtkWidget* widget, const char* name) {
  gtk_widget_set_name(widget, name);
  AddCss(widget, kCss, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// Width of `text` in the label's face at `points`.
int TextWidth(GtkWidget* label, const char* text, double points) {
  PangoLayout* layout = gtk_widget_create_pango_layout(label, text);
  PangoFontDescription* font = pango_font_description_copy(
      pango_context_get_font_description(pango_layout_get_context(layout)));
  pango_font_description_set_size(font, static_cast<gint>(points * PANGO_SCALE));
  pango_layout_set_font_description(layout, font);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  pango_font_description_free(font);
  g_object_unref(layout);
  return width;
}

// The faces that stand in for Tahoma run a few pixels wider, and the ready text must be read in
// full: where it does not fit, the label's size comes down a quarter point at a time.
void FitReadyText(GtkWidget* label) {
  double points = kLabelPoints;
  while (points > kSmallestPoints && TextWidth(label, kReadyText, points) > kLabelWidth) {
    points -= 0.25;
  }
  if (points == kLabelPoints) return;
  char css[64];
  std::snprintf(css, sizeof css, "#lblInfo { font-size: %.2fpt; }", points);
  AddCss(label, css, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
}

// A dialog hint drops minimise and maximise on most window managers; the Motif functions ask
// the rest.
void OnRealize(GtkWidget* window, gpointer) {
  GdkWindow* gdk = gtk_widget_get_window(window);
  gdk_window_set_functions(gdk, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
}

GtkWidget* MakeWindow() {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* w = GTK_WINDOW(window);
  gtk_window_set_title(w, kWindowCaption);
  gtk_window_set_resizable(w, FALSE);
  gtk_window_set_deletable(w, TRUE);
  gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_skip_taskbar_hint(w, TRUE);
  gtk_window_set_skip_pager_hint(w, TRUE);
  gtk_window_set_position(w, GTK_WIN_POS_CENTER);
  g_signal_connect(window, "realize", G_CALLBACK(OnRealize), nullptr);
  return window;
}

GtkWidget* MakeLabel() {
  GtkWidget* label = gtk_label_new(kReadyText);
  Style(label, "lblInfo");
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
  // A longer text is cut, never allowed to widen the window.
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
  gtk_widget_set_size_request(label, kLabelWidth, kLabelHeight);
  return label;
}

GtkWidget* MakeButton() {
  GtkWidget* button = gtk_button_new_with_label(kPrintButtonText);
  Style(button, "btnPrint");
  gtk_widget_set_size_request(button, kButtonWidth, kButtonHeight);
  gtk_widget_set_can_default(button, TRUE);
  return button;
}

}  // namespace

MainWidgets BuildMainWindow() {
  MainWidgets w{MakeWindow(), MakeLabel(), MakeButton()};
  GtkWidget* client = gtk_fixed_new();
  gtk_widget_set_size_request(client, kClientWidth, kClientHeight);
  gtk_fixed_put(GTK_FIXED(client), w.lblInfo, kLabelLeft, kLabelTop);
  gtk_fixed_put(GTK_FIXED(client), w.btnPrint, kButtonLeft, kButtonTop);
  gtk_container_add(GTK_CONTAINER(w.window), client);
  FitReadyText(w.lblInfo);
  // The button is the first in tab order: it has the focus, and Return presses it.
  gtk_window_set_default(GTK_WINDOW(w.window), w.btnPrint);
  gtk_window_set_focus(GTK_WINDOW(w.window), w.btnPrint);
  return w;
}

void SetProgramIcon() {
  GdkPixbuf* icon = gdk_pixbuf_new_from_xpm_data(const_cast<const char**>(zelmo_xpm));
  gtk_window_set_default_icon(icon);
  g_object_unref(icon);
}

}  // namespace zelmo
