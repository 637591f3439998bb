// Compressing test data in memory, for the tests of compressed input files.
#pragma once

#include <string>

#if KELBOW_HAVE_ZLIB
#include <zlib.h>
#endif
#if KELBOW_HAVE_ZSTD
#include <zstd.h>
#endif

namespace kelbow::testing {

#if KELBOW_HAVE_ZLIB
// One gzip member holding `text`.
inline std::string gzipped(const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
  out.resize(done ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}
#endif

#if KELBOW_HAVE_ZSTD
// One zstd frame holding `text`.
inline std::string zstdCompressed(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t n = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}
#endif

}  // namespace kelbow::testing
