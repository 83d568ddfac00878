// The entry point: the command-line tail is the arguments after the program
// name joined by single blanks, as the program receives it on its original
// platform.
#include <cstdlib>
#include <string>

#include "app/app.h"

int main(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return run_tav(tail);
}
