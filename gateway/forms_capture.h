// The forms capture of link rewriting: one short text for the whole
// process, shared by every session, kept from line to line and session to
// session. It holds at most 11 characters; a longer capture is cut to its
// first 11. Reads and writes are serialised, so a reader never sees a
// half-written capture.
#ifndef TAV_GATEWAY_FORMS_CAPTURE_H_
#define TAV_GATEWAY_FORMS_CAPTURE_H_

#include <cstddef>

inline constexpr size_t kFormsCaptureSize = 12;

// Replaces the capture with the first min(length, 11) characters of text.
void forms_capture_set(const char* text, size_t length);
// Copies the capture, NUL-terminated, to out (kFormsCaptureSize bytes).
void forms_capture_get(char out[kFormsCaptureSize]);

#endif  // TAV_GATEWAY_FORMS_CAPTURE_H_
