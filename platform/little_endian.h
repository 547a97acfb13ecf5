// Little-endian integers in bytes, as every file format here stores them (Access pages, Office
// encryption headers, BIFF records, compound files, zip headers). The caller has checked bounds.
#pragma once

#include <cstdint>
#include <string>

namespace le {

inline uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get24(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t get32(const unsigned char* p) { return get24(p) | (static_cast<uint32_t>(p[3]) << 24); }
inline uint64_t get64(const unsigned char* p) { return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

inline void put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The same over char, for bytes kept in std::string.
inline uint16_t get16(const char* p) { return get16(reinterpret_cast<const unsigned char*>(p)); }
inline uint32_t get32(const char* p) { return get32(reinterpret_cast<const unsigned char*>(p)); }
inline uint64_t get64(const char* p) { return get64(reinterpret_cast<const unsigned char*>(p)); }
inline void put16(char* p, uint16_t v) { put16(reinterpret_cast<unsigned char*>(p), v); }
inline void put32(char* p, uint32_t v) { put32(reinterpret_cast<unsigned char*>(p), v); }

// Appended to the end of a string.
inline void add16(std::string& s, uint16_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}
inline void add32(std::string& s, uint32_t v) {
  add16(s, static_cast<uint16_t>(v));
  add16(s, static_cast<uint16_t>(v >> 16));
}

}  // namespace le
