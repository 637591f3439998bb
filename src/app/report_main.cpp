#include "app/report_run.h"

int main(int argc, char* argv[]) { return kelbow::runReport(argc, argv); }
