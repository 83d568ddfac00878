// Install mode ("-install"): IP discovery alone, the units written to
// ipunit.dat in the data directory. Returns 0 on success, -1 on failure
// (after its message box).
#ifndef TAV_APP_INSTALL_MODE_H_
#define TAV_APP_INSTALL_MODE_H_

int run_install_mode();

#endif  // TAV_APP_INSTALL_MODE_H_
