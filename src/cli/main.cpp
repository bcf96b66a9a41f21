#include "cli/driver.h"

int main(int argc, char **argv) { return bayescreen::bayescreen_main(argc, argv); }
