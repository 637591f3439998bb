#include "app/option_scanner.h"

#include <cstdio>
#include <cstring>

namespace kelbow {

int optind = 1;
char* optarg = nullptr;
int optopt = 0;
int opterr = 1;

namespace {

int position = 1;  // next option character inside the word at optind

// The scanner's message: program name, text, option character, newline, each
// written byte for byte.
void report(char* const argv[], const char* text, char c) {
  if (opterr == 0) return;
  std::fputs(argv[0], stderr);
  std::fputs(text, stderr);
  std::fputc(c, stderr);
  std::fputc('\n', stderr);
}

}  // namespace

void resetOptionScanner() {
  optind = 1;
  position = 1;
  optarg = nullptr;
  optopt = 0;
  opterr = 1;
}

int getopt(int argc, char* const argv[], const char* optionString) {
  if (position == 1) {
    if (optind >= argc || argv[optind][0] != '-' || argv[optind][1] == '\0') return -1;
    if (std::strcmp(argv[optind], "--") == 0) {
      ++optind;
      return -1;
    }
  }
  const char* word = argv[optind];
  const char c = word[position];
  optopt = static_cast<signed char>(c);
  const char* spec = c == ':' ? nullptr : std::strchr(optionString, c);
  if (spec == nullptr) {
    report(argv, ": illegal option -- ", c);
    if (word[++position] == '\0') {
      ++optind;
      position = 1;
    }
    return '?';
  }
  if (spec[1] == ':') {
    if (word[position + 1] != '\0') {
      optarg = const_cast<char*>(&word[position + 1]);
      ++optind;
    } else if (++optind >= argc) {
      report(argv, ": option requires an argument -- ", c);
      position = 1;
      return '?';
    } else {
      optarg = argv[optind++];
    }
    position = 1;
    return c;
  }
  if (word[++position] == '\0') {
    position = 1;
    ++optind;
  }
  optarg = nullptr;
  return c;
}

}  // namespace kelbow
