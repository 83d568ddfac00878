// The desktop's browser for HTML files: $BROWSER, else the desktop entry
// that xdg-mime names, else nothing.
#include "platform/browser_choice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/scratch.h"

namespace {

using namespace tav_test;

TEST(BrowserChoice, BrowserVariableElseDesktopEntryElseNothing) {
  ScratchDir dir;
  ScopedEnv browser("BROWSER", nullptr);
  ScopedEnv path("PATH", dir.path().c_str());
  ScopedEnv data_home("XDG_DATA_HOME", dir.file("share").c_str());
  ScopedEnv data_dirs("XDG_DATA_DIRS", dir.file("none").c_str());
  {
    ScopedEnv empty("XDG_DATA_HOME", dir.file("empty").c_str());
    EXPECT_EQ(desktop_open_command(), "");
  }
  std::filesystem::create_directories(dir.file("share/applications"));
  dir.write("xdg-mime",
            "#!/bin/sh\n[ \"$*\" = \"query default text/html\" ] && "
            "echo web.desktop\n");
  ::chmod(dir.file("xdg-mime").c_str(), 0755);
  dir.write("share/applications/web.desktop",
            "[Desktop Action new]\nExec=wrong %u\n"
            "[Desktop Entry]\nName=Web\nExec=/opt/web/bin/web --new %U %i "
            "%%x\n");
  EXPECT_EQ(desktop_open_command(), "/opt/web/bin/web --new \"%1\"  %x");
  ScopedEnv chosen("BROWSER", "web2 -x=%s:chromium");
  EXPECT_EQ(desktop_open_command(), "web2 -x=\"%1\"");
  // Each conversion places the document.
  EXPECT_EQ(command_from_browser_variable(" web  :other"), "web \"%1\"");
  EXPECT_EQ(command_from_browser_variable("w %s --x=%s"),
            "w \"%1\" --x=\"%1\"");
  EXPECT_EQ(command_from_browser_variable(":w"), "");
  EXPECT_EQ(command_from_desktop_entry("[Desktop Entry]\nExec=w %f\n"),
            "w \"%1\"");
  EXPECT_EQ(command_from_desktop_entry("[Desktop Entry]\nExec=w --n %k\n"),
            "w --n \"%1\"");
  EXPECT_EQ(command_from_desktop_entry("[Other]\nExec=w\n"), "");
}

}  // namespace
