// Entry point of the dialog application.
#include "ui/torvane_app.h"

torvane::CTorvaneApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
