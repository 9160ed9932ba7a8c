// Entry point of the dialog application.
#include <cstdio>
#include <exception>

#include "ui/qt/torvane_app.h"

torvane::CTorvaneApp theApp;

int main(int argc, char** argv) {
  // No way out of the program ends in an uncaught exception.
  try {
    return theApp.Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "torvane: %s\n", e.what());
    return 1;
  }
}
