// Small GTK helpers shared by the windows: owning pointers for GObjects,
// the windows' common look, labelled rows and the message boxes. Main
// thread only, like all of GTK.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "desktop/texts.h"

namespace lcx {

struct GObjectUnref {
  void operator()(gpointer object) const { if (object) g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// A GList the caller owns (gtk_container_get_children), freed without its items.
struct GListFree {
  void operator()(GList* list) const { g_list_free(list); }
};
using GListPtr = std::unique_ptr<GList, GListFree>;

// Takes over a reference the caller already owns (a new object, or one from
// a "ref" call); the reference goes with the pointer.
template <typename T>
GObjectPtr<T> Adopt(T* object) {
  return GObjectPtr<T>(object);
}

// Opens GTK on $DISPLAY once; false when there is no display to open.
bool EnsureGtk();
// Widgets made from now on are laid out right to left in Arabic.
void ApplyLanguageDirection(Language lang);

// A centred top-level window with the program's icon and background.
GtkWidget* NewWindow(const char* title, int width, int height, bool resizable);
// The program's icon (drawn at build time) at a size, or empty.
GObjectPtr<GdkPixbuf> AppIconPixbuf(int size);

// A text that runs left to right inside either layout (addresses, URLs),
// so its neutral characters keep their places in Arabic.
std::string LeftToRight(const std::string& text);

// Labels read right to left in Arabic even when they begin with a Latin word.
GtkWidget* NewLabel(const std::string& text, bool wrap = false);
GtkWidget* NewHeading(const std::string& text);
// A flat button that reads as a link.
GtkWidget* NewLinkButton(const std::string& text);
// Label and field on one grid row.
void AddRow(GtkWidget* grid, int row, const std::string& label, GtkWidget* field);

enum class BoxKind { kError, kInfo, kWarning };
// A modal message box: caption "!" for errors and warnings, "OK" for
// information, texts of the language, right-to-left in Arabic.
void ShowMessage(GtkWindow* parent, Language lang, const Text& text, BoxKind kind);
// OK / Cancel question; true for OK.
bool AskOkCancel(GtkWindow* parent, Language lang, const Text& text, const char* caption);

// The text of an entry, as bytes.
std::string EntryText(GtkWidget* entry);

}  // namespace lcx
