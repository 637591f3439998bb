#include "app/csv_run.h"

int main(int argc, char* argv[]) { return kelbow::runCsv(argc, argv); }
