// Browser launch: runs the browser that opens HTML files on the discovery
// page, on a watcher thread that deletes both page files and ends the
// process with exit code 1 when the browser ends. Returns 1 when the
// watcher was started, -1 when no open command was found.
#ifndef TAV_PAGE_BROWSER_LAUNCH_H_
#define TAV_PAGE_BROWSER_LAUNCH_H_

int launch_browser(const char* page_path, const char* help_path);

#endif  // TAV_PAGE_BROWSER_LAUNCH_H_
