#include "app/labels_run.h"

int main(int argc, char* argv[]) { return kelbow::runLabels(argc, argv); }
