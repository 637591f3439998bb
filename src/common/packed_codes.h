// Rows of codes packed for a hand-over between threads: every code in as few
// bytes as the largest domain needs (one byte up to 256 values, two up to
// 65,536, else four). A row crosses between processors a cache line at a time,
// and a transfer costs the same however little of the line is used, so a
// narrower row crosses in fewer transfers.
#pragma once

#include <cstdint>
#include <cstring>

namespace kelbow {

// Bytes per code for rows of `count` codes, code a below domainSizes[a].
inline int packedCodeBytes(const int* domainSizes, int count) {
  int largest = 1;
  for (int a = 0; a < count; ++a) largest = domainSizes[a] > largest ? domainSizes[a] : largest;
  return largest <= (1 << 8) ? 1 : largest <= (1 << 16) ? 2 : 4;
}

namespace packed_detail {
template <class T>
inline bool pack(const int* values, const int* offsets, int n, unsigned char* out) {
  bool fits = true;
  for (int i = 0; i < n; ++i) {
    const int v = offsets != nullptr ? values[i] - offsets[i] : values[i];
    if constexpr (sizeof(T) < sizeof(int)) fits &= v >= 0 && v < (1 << (8 * sizeof(T)));
    const T code = static_cast<T>(v);
    std::memcpy(out + i * sizeof(T), &code, sizeof(T));
  }
  return fits;
}
template <class T>
inline void unpack(const unsigned char* in, const int* offsets, int n, int* values) {
  for (int i = 0; i < n; ++i) {
    T code;
    std::memcpy(&code, in + i * sizeof(T), sizeof(T));
    values[i] = offsets != nullptr ? offsets[i] + static_cast<int>(code) : static_cast<int>(code);
  }
}
}  // namespace packed_detail

// Writes the n codes values[i] - offsets[i] (values[i] with no offsets) into
// out, `bytes` bytes each; false when one of them does not fit in one or two
// bytes (negative or too large), which the bound the caller packs for makes a
// broken invariant. Four bytes hold any int.
inline bool packCodes(const int* values, const int* offsets, int n, int bytes, unsigned char* out) {
  switch (bytes) {
    case 1:
      return packed_detail::pack<std::uint8_t>(values, offsets, n, out);
    case 2:
      return packed_detail::pack<std::uint16_t>(values, offsets, n, out);
    default:
      return packed_detail::pack<std::uint32_t>(values, offsets, n, out);
  }
}

// The inverse: values[i] = offsets[i] + code i (the code alone with no offsets).
inline void unpackCodes(const unsigned char* in, const int* offsets, int n, int bytes,
                        int* values) {
  switch (bytes) {
    case 1:
      return packed_detail::unpack<std::uint8_t>(in, offsets, n, values);
    case 2:
      return packed_detail::unpack<std::uint16_t>(in, offsets, n, values);
    default:
      return packed_detail::unpack<std::uint32_t>(in, offsets, n, values);
  }
}

}  // namespace kelbow
