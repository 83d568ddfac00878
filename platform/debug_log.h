// Diagnostic sinks.
//
// DebugLog: the program's diagnostics. Discarded unless TAV_DEBUG is set:
// "1" writes them to standard error, any other value is a file path they
// are appended to. report(): the few texts that the program writes to
// standard output (settings store, discovery counts, listener errors).
// Formats are always the program's own constants, never input.
// Both are safe for concurrent use; a line is written whole.
#ifndef TAV_PLATFORM_DEBUG_LOG_H_
#define TAV_PLATFORM_DEBUG_LOG_H_

void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // TAV_PLATFORM_DEBUG_LOG_H_
