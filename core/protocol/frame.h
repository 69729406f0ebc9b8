#pragma once
// The framed command protocol spoken with the reader: the body 0x11, command,
// header word, payload and CRC-8/MAXIM, byte-stuffed between 0xDA and 0xD5.
// Pure functions on buffers: the port never comes in here.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace frame {

inline constexpr uint8_t kStart = 0xDA;
inline constexpr uint8_t kEnd = 0xD5;
inline constexpr uint8_t kEscape = 0xDF;
inline constexpr uint8_t kHeaderByte = 0x11;
inline constexpr uint8_t kLongHeaderFrom = 31;  // command codes from here on take the long header
inline constexpr size_t kLongHeaderLength = 6;

// CRC-8/MAXIM (reflected 0x8C, initial 0, no final XOR); 0 for no bytes.
uint8_t Crc8(const uint8_t *data, size_t count);
// Stuffs count body bytes into out (capacity outCapacity). Returns the escaped
// length, or 0 when it would not fit.
size_t Escape(const uint8_t *body, size_t count, uint8_t *out, size_t outCapacity);
// Undoes the stuffing of count bytes from in into out (out may equal in only
// through a copy; the caller owns that). Returns the number of bytes written.
size_t Unescape(const uint8_t *in, size_t count, uint8_t *out);
// A whole frame as it travels on the line: start byte, stuffed body with its
// CRC appended, end byte. body is the unescaped body without the CRC.
std::vector<uint8_t> Encode(const std::vector<uint8_t> &body);

}  // namespace frame
