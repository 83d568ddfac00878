#include "page/page_writer.h"

char discovery_page_path[kPagePathSize];
char help_page_path[kPagePathSize];

// Placeholder until the page writer is built.
int write_discovery_files(int, int, char*, char*, int) { return -1; }
