// The catalogue: parsing any file, and formatting any text (the input and
// each text parsed) with inserts, reads and writes only what it is given.
#include "platform/catalogue.h"
#include "tests/fuzz/fuzz.h"

static void format_every_way(const std::string& text) {
  std::string half = text.substr(0, text.size() / 2);
  format_text(text, {7, "unit", 4294967295u});
  format_text(text, {});
  fill_inserts(text, half, "%s%1%2");
  format_inserts_and_args(text, "%d%%", half, {-1, "x"});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = fuzz::text(data, size);
  format_every_way(text);
  CatalogueContents contents;
  if (parse_catalogue(text, &contents)) {
    for (const auto& [id, t] : contents.texts) format_every_way(t);
    for (const auto& [id, d] : contents.dialogs)
      for (const auto& c : d.controls) format_every_way(c.label);
  }
  return 0;
}
