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
// - fill_inserts() replaces %1 and %2; the inserted texts are never scanned
//   again.
// - format_inserts_and_args() does both in one pass, for texts that carry
//   inserts and printf conversions (the discovery page head): an insert that
//   holds '%' stays literal, which filling first and formatting the result
//   would not guarantee.
// - format_text() uses a catalogue text as a printf-style format with typed
//   arguments. Only %d %i %u %x %X %c %s %% with flags, width and precision
//   are honoured; a conversion whose argument is missing or of the wrong
//   kind is written out as it stands. Input is never used as a format.
// Safe for concurrent use after loading.
#ifndef TAV_PLATFORM_CATALOGUE_H_
#define TAV_PLATFORM_CATALOGUE_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

bool catalogue_load(const std::string& path);
// Finds resc.cat: $TAV_CATALOGUE, beside the executable, ../share/tav.
std::string catalogue_default_path();
bool catalogue_loaded();

std::string catalogue_text(int id);

struct FormatArg {
  FormatArg(int v) : is_text(false), number(v) {}
  FormatArg(long v) : is_text(false), number(v) {}
  FormatArg(long long v) : is_text(false), number(v) {}
  FormatArg(unsigned v) : is_text(false), number(v) {}
  FormatArg(const char* v) : is_text(true), text(v ? v : "") {}
  FormatArg(const std::string& v) : is_text(true), text(v) {}
  bool is_text;
  long long number = 0;
  std::string_view text;
};

std::string fill_inserts(const std::string& text, const std::string& insert1,
                         const std::string& insert2 = std::string());
std::string format_text(const std::string& format,
                        std::initializer_list<FormatArg> args);
std::string format_inserts_and_args(const std::string& format,
                                    const std::string& insert1,
                                    const std::string& insert2,
                                    std::initializer_list<FormatArg> args);

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
