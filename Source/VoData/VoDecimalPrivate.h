// VoDecimalPrivate.h - numbers in files, read and written the same whatever the process's locale.
#ifndef VOFOUNDATION_VODATA_VODECIMALPRIVATE_H
#define VOFOUNDATION_VODATA_VODECIMALPRIVATE_H

#include "VoCore/VoString.h"

// Text that is stored (database values, preference files) has "." as its
// decimal point. The C library's conversions follow the process's locale
// (after setlocale(LC_ALL, "") in a German locale "%f" writes 1,5 and atof
// reads 0.5 as 0), so stored numbers go through these instead.

/// The number at the start of \p text read as the C library's strtod reads
/// it in the "C" locale, whatever the process's locale: white space skipped,
/// an optional sign, then a decimal or hexadecimal ("0x") number, "inf",
/// "infinity" or "nan" (letter case ignored); ±HUGE_VAL above the range, 0
/// below it. 0 when there is no number. \p end, when not null, gets the first
/// character behind the number (\p text itself when there is none).
double VoDecimalRead(const char* text, const char** end = nullptr);

/// \p value formatted by \p format (text with exactly one printf conversion
/// of a double; "%f" when null) as in the "C" locale: "." as the decimal
/// point and no digit grouping, whatever the process's locale.
VoString VoDecimalFormat(double value, const char* format);

/// The shortest "%.*g" text (precision 1 to 17) that VoDecimalRead reads back
/// as exactly \p value, as in the "C" locale.
VoString VoDecimalShortest(double value);

#endif  // VOFOUNDATION_VODATA_VODECIMALPRIVATE_H
