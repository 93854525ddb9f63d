// quote_fuzz.cpp - unquoting of arbitrary text, and quote/unquote round trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const VoString text(data, static_cast<long>(size), false);
  const VoString fixed(data, static_cast<long>(size), true);

  // Unquoting arbitrary bytes either fails with VoFormatErr or gives at most
  // the characters between the quotes.
  for (const VoString* s : {&text, &fixed}) {
    try {
      const VoString out = s->UnQuoteString();
      if (out.length() > (size >= 2 ? static_cast<long>(size) - 2 : 0)) std::abort();
    } catch (const VoError& e) {
      if (e.GetErr() != eVoFormatErr) std::abort();
    }
  }

  // Text without zero bytes comes back unchanged from quoting and unquoting.
  if (size > 0 && std::memchr(data, 0, size) == nullptr) {
    const VoString quoted = text.QuoteString();
    const VoString back = quoted.UnQuoteString();
    if (back.length() != static_cast<long>(size) || std::memcmp(back.c_str(), data, size) != 0) std::abort();
  }
  return 0;
}
