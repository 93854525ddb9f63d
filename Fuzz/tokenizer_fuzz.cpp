// tokenizer_fuzz.cpp - the tokenizer and list readers on arbitrary bytes.
//
// The first byte chooses the whitespace set and the string's mode, the rest
// is the text (zero bytes included). Checks that tokens lie within the text,
// that the position always moves forward, and that CountWords, ReadWord and
// ReadString agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoArray.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  const uint8_t control = data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const long length = static_cast<long>(size - 1);
  const VoString text(bytes, length, (control & 0x80) != 0);

  // Whitespace set: the default, or one to three bytes of the text itself.
  VoString white;
  const long setLength = control & 3;
  if (setLength > 0 && length >= setLength) white = VoString(bytes, setLength, false);
  const bool quoted = (control & 4) != 0;

  long pos = 0;
  long tokens = 0;
  for (;;) {
    const long before = pos;
    const VoString token = text.ReadString(pos, quoted, white);
    if (token.length() == 0) break;
    if (pos <= before || pos > length) std::abort();
    if (token.length() > pos - before) std::abort();
    ++tokens;
  }
  if (pos > length) std::abort();
  if (text.CountWords(quoted, white) != tokens) std::abort();
  if (tokens > 0) {
    const VoString last = text.ReadWord(static_cast<int>(tokens - 1), quoted, white);
    if (last.length() == 0) std::abort();
  }
  if (text.ReadWord(static_cast<int>(tokens), quoted, white).length() != 0) std::abort();

  VoArray<VoString> items(0);
  try {
    text.ReadStrings(items, white);
    if (items.size != tokens && quoted) std::abort();
  } catch (const VoError&) {
    // A token that is not a proper quoted string may be refused.
  }
  text.Split(items, static_cast<char>(control));
  VoString merged;
  merged.MergeStrings(items, white);
  return 0;
}
