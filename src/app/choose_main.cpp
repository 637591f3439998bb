#include "app/choose_run.h"

int main(int argc, char* argv[]) { return kelbow::runChoose(argc, argv); }
