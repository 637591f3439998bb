// A small fixed random generator (splitmix64), so that every draw the tools
// make depends on the seed alone, never on the standard library's
// distributions: the same seed gives the same tables and the same answers on
// every machine.
#pragma once

#include <cstdint>

namespace kelbow {

struct SplitMix64 {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // A draw from 0 .. n-1 (n >= 1), with a bias below 2^-32 for n below 2^32.
  std::uint64_t below(std::uint64_t n) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
  }
  // A draw from [0, 1).
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// The seed of the i-th stream drawn from a base seed: streams of one base are
// far apart, and stream i of two bases differ.
inline std::uint64_t streamSeed(std::uint64_t base, std::uint64_t i) {
  SplitMix64 g{base ^ (0x6a09e667f3bcc909ULL * (i + 1))};
  return g.next();
}

}  // namespace kelbow
