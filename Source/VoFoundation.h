// VoFoundation.h - the whole public interface of the library in one include.
#ifndef VOFOUNDATION_H
#define VOFOUNDATION_H

#include "VoCore/VoError.h"

#endif  // VOFOUNDATION_H
