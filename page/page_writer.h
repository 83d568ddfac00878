// The discovery page writer.
//
// The discovery page "tav-disc.htm" lists every unit found: IP units linked
// directly by address, IPX units with a web service linked through the
// gateway (gateway address, port 34, "<name>-HTML/"), with a refresh link
// through the gateway and a link to the help page "tavhelp.htm", which is
// copied beside it. Both go into page_directory(), the folder that stands
// for the root folder of the current drive.
//
// - Unit names and descriptions come from devices on the network; they are
//   HTML-escaped (& < > " ') wherever they go into the page as text. In the
//   gateway link a name is percent-encoded instead (url_name), so that a
//   blank, "#", "?", "%" or "-" in it still leads to the unit; the gateway
//   decodes it.
// - The help link is "file://" followed by the help copy's POSIX path,
//   percent-encoded where a URL path needs it (insert %2 of message 113).
// - Page files are created with O_NOFOLLOW: a symbolic link planted at a
//   page path makes the write fail (message 106 or 112), it is never
//   followed.
// - When the host's own name has no address (environment().host_lookup),
//   message 134 is shown, the help copy is removed and the process ends
//   with exit code 1.
//
// Threading: start-up calls write_discovery_files() once; afterwards only
// the refresh thread calls it (never two at once); served_discovery_page()
// and read_help_page() are safe from any thread. The units come from the
// published unit lists, so gateway sessions may read the lists meanwhile.
#ifndef TAV_PAGE_PAGE_WRITER_H_
#define TAV_PAGE_PAGE_WRITER_H_

#include <cstdint>
#include <string>

inline constexpr int kPagePathSize = 1024;
// The full paths of the page and of the help copy, set by start-up's call
// and used again by the browser launch and the refresh request.
extern char discovery_page_path[kPagePathSize];
extern char help_page_path[kPagePathSize];

// Copies the help page when copy_help is set (start-up; a refresh keeps the
// help path from then), then writes the page from the first ip_count and
// ipx_count published units (fewer when fewer are published). page_path
// and help_path need kPagePathSize bytes. Returns 0, or -1 when the page
// cannot be written; then the help copy is deleted.
int write_discovery_files(int ip_count, int ipx_count, char* page_path,
                          char* help_path, int copy_help);

// Writes the page file; 1, or -1 (after message 106) when it cannot be
// created or written.
int write_discovery_page(const char* page_path, int ip_count, int ipx_count,
                         const char* help_path);

// Copies "tavhelp.htm" from the current folder (else from beside the
// catalogue, else beside the executable) to dest. Shows message 111 when
// no source can be read, 112 when the copy cannot be made.
void copy_help_page(const char* dest);

// The page's text for the first ip_count and ipx_count published units,
// with help_link as the help link (insert %2 of message 113) and address as
// the gateway address: the one writer of the file and of the gateway's
// copy. The file links the help copy by a file URL; the gateway's copy
// links "tavhelp.htm", which the gateway serves beside it.
std::string discovery_page_text(int ip_count, int ipx_count,
                                const std::string& help_link,
                                const std::string& address);
// The gateway's copy of the page from the last write (made even when the
// file could not be written); empty before the first. Any thread.
std::string served_discovery_page();
// The help page's source, whole; false when none can be read.
bool read_help_page(std::string* out);
// An IPX unit's link through the gateway at address.
std::string gateway_unit_link(const std::string& address,
                              const char (&name)[48]);

// Replaces & < > " ' by their character references; other bytes stay.
std::string html_escape(const char* text, size_t max_length);

// The help path as it goes into a file URL: bytes outside A-Z a-z 0-9
// - . _ ~ / are percent-encoded.
std::string file_url_path(const char* path);

// A unit name (at most max_length bytes) as the gateway link's first path
// segment: bytes outside A-Z a-z 0-9 . _ ~ are percent-encoded.
std::string url_name(const char* name, size_t max_length);

// Ends the process at once with exit code `code`: output is flushed and the
// private page folder removed, but no exit handler or static destructor runs,
// so gateway threads still at work cannot trip over torn-down state.
[[noreturn]] void end_process_now(int code);

// Deletes the page and the help copy and ends the process with `code`. It
// waits for a page write in progress (a refresh) to finish, and no page is
// written after it, so the page cannot come back after its deletion.
[[noreturn]] void remove_page_files_and_exit(const std::string& page_path,
                                             const std::string& help_path,
                                             int code);

#endif  // TAV_PAGE_PAGE_WRITER_H_
