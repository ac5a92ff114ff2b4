#include "ui/shell/shell.h"

int main(int argc, char** argv) { return RunApplication(argc, argv); }
