// The message catalogue: numbered texts, dialog templates and the icon name,
// loaded from the file resc.cat beside the executable (or share/tav of an
// install prefix, or $TAV_CATALOGUE).
//
// File format (UTF-8, line by line; '#' starts a comment line):
//   [texts]                     numbered texts follow
//   108 = one-line text         escapes: \n \r \t \\ ; outer blanks trimmed
//   113 = <<<                   a block: the lines up to a line ">>>", each
//   ...                         ending in a line feed, escapes as above
//   >>>
//   [dialog 102]                a dialog template
//   title = Settings
//   control 1013 check = Search over &IP     kinds: edit check button text
//   [icon 128]
//   file = tav.svg
// Lines that do not parse are skipped.
//
// Contract:
// - catalogue_load() returns false when the file is missing or unreadable,
//   or holds a block without its end.
// - catalogue_text() of an absent number is the empty text.
// - The texts are filled and formatted by platform/text_format.h.
// Safe for concurrent use after loading.
#ifndef TAV_PLATFORM_CATALOGUE_H_
#define TAV_PLATFORM_CATALOGUE_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_format.h"

bool catalogue_load(const std::string& path);
// Finds resc.cat: $TAV_CATALOGUE, beside the executable, ../share/tav.
std::string catalogue_default_path();
bool catalogue_loaded();

std::string catalogue_text(int id);

// A control of a dialog template.
struct DialogControlTemplate {
  int id = 0;
  std::string kind;  // "edit", "check", "button", "text"
  std::string label;
};
struct DialogTemplate {
  int id = 0;
  std::string title;
  std::vector<DialogControlTemplate> controls;
};

// What a catalogue file holds.
struct CatalogueContents {
  std::map<int, std::string> texts;
  std::map<int, DialogTemplate> dialogs;
  std::string icon_file;
};
// Parses the text of a catalogue file (format above) into *out; false when
// a block has no end. Pure: catalogue_load() reads the file and calls it.
bool parse_catalogue(const std::string& text, CatalogueContents* out);

// The template with this number, or nullptr.
const DialogTemplate* catalogue_dialog(int id);
// The icon file named by the catalogue (icon 128), beside the catalogue.
std::string catalogue_icon_path();

#endif  // TAV_PLATFORM_CATALOGUE_H_
