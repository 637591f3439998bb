#include "app/run.h"

int main(int argc, char* argv[]) { return kelbow::run(argc, argv); }
