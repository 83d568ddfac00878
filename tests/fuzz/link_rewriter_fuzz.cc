// Link rewriting of one HTML line for any unit name: the line never passes
// its buffer, and a line without any link comes out as it went in.
#include <algorithm>
#include <cstdio>

#include "gateway/forms_capture.h"
#include "gateway/link_rewriter.h"
#include "gateway/text.h"
#include "tests/fuzz/fuzz.h"

// Input: one byte whose low bits give the length of the unit name and whose
// top bit picks the longest gateway address, the name, then the line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t name_length = std::min<size_t>(data[0] & 0x7F, kUnitNameSize - 1);
  name_length = std::min(name_length, size - 1);
  static GatewaySession session;
  std::memset(&session, 0, sizeof session);
  std::snprintf(session.host_address, sizeof session.host_address, "%s",
                (data[0] & 0x80) != 0 ? "255.255.255.255" : "10.0.0.5");
  std::memcpy(session.unit.unit_name, data + 1, name_length);
  std::string text = fuzz::text(data + 1 + name_length,
                                std::min<size_t>(size - 1 - name_length, 511));
  char line[kRewriteLineSize];
  std::snprintf(line, sizeof line, "%s", text.c_str());
  std::string before = line;
  rewrite_links(&session, line);
  fuzz::require(std::memchr(line, '\0', sizeof line) != nullptr);
  bool has_link = find_first_keyword(before.c_str()) != nullptr ||
                  before.find("window.open") != std::string::npos;
  fuzz::require(has_link || before == line);
  char forms[kFormsCaptureSize];
  forms_capture_get(forms);
  fuzz::require(bounded_length(forms, sizeof forms) < kFormsCaptureSize);
  return 0;
}
