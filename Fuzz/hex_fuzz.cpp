// hex_fuzz.cpp - decoding of arbitrary hexadecimal text, and hex round trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const VoString text(data, static_cast<long>(size), false);
  const VoString fixed(data, static_cast<long>(size), true);

  for (const VoString* s : {&text, &fixed}) {
    long binSize = -1;
    try {
      binSize = s->BinSize();
    } catch (const VoError& e) {
      if (e.GetErr() != eVoFormatErr || (s->length() & 1) == 0) std::abort();
    }
    // Str2Bin writes at most BinSize() bytes; the guard bytes must survive.
    const std::size_t room = s->length() > 0 ? static_cast<std::size_t>(s->length()) / 2 : 0;
    std::vector<unsigned char> buffer(room + 16, 0xA5);
    try {
      long reported = -1;
      s->Str2Bin(buffer.data(), &reported);
      if (reported != binSize) std::abort();
    } catch (const VoError& e) {
      if (e.GetErr() != eVoFormatErr) std::abort();
    }
    for (std::size_t k = room; k < buffer.size(); ++k)
      if (buffer[k] != 0xA5) std::abort();
    try {
      const VoString bytes = s->Str2BinStr();
      if (bytes.length() != binSize) std::abort();
    } catch (const VoError& e) {
      if (e.GetErr() != eVoFormatErr) std::abort();
    }
  }

  // Any bytes survive encoding and decoding.
  VoString hex;
  hex.Bin2Str(data, static_cast<long>(size));
  if (hex.length() != 2 * static_cast<long>(size)) std::abort();
  const VoString back = hex.Str2BinStr();
  if (back.length() != static_cast<long>(size) || (size && std::memcmp(back.c_str(), data, size) != 0))
    std::abort();
  if (fixed.BinStr2Str().cmp(hex) != 0) std::abort();
  return 0;
}
