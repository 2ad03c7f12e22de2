// The tool's entry point on Linux: the arguments are the system's bytes.
#include "tools/rvo/System.h"

int main(int argc, char** argv) { return RunTool(argc, argv); }
