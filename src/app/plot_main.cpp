#include "app/plot_run.h"

int main(int argc, char** argv) { return kelbow::runPlot(argc, argv); }
