// The discovery page writer.
//
// write_discovery_files() writes the discovery page "tav-disc.htm" (and,
// when copy_help is set, copies "tavhelp.htm") into page_directory(), and
// stores both full paths in the two process-wide path buffers. Returns 0,
// or -1 when the page cannot be written. Reads the published unit lists.
#ifndef TAV_PAGE_PAGE_WRITER_H_
#define TAV_PAGE_PAGE_WRITER_H_

inline constexpr int kPagePathSize = 1024;
extern char discovery_page_path[kPagePathSize];
extern char help_page_path[kPagePathSize];

int write_discovery_files(int ip_count, int ipx_count, char* page_path,
                          char* help_path, int copy_help);

#endif  // TAV_PAGE_PAGE_WRITER_H_
