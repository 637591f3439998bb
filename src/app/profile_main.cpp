#include "app/profile_run.h"

int main(int argc, char* argv[]) { return kelbow::runProfile(argc, argv); }
