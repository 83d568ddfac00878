// Filling and formatting the catalogue's texts.
//
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
// Pure functions; safe for concurrent use.
#ifndef TAV_PLATFORM_TEXT_FORMAT_H_
#define TAV_PLATFORM_TEXT_FORMAT_H_

#include <initializer_list>
#include <string>
#include <string_view>

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

#endif  // TAV_PLATFORM_TEXT_FORMAT_H_
