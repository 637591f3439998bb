#include "app/assign_run.h"

int main(int argc, char* argv[]) { return kelbow::runAssign(argc, argv); }
