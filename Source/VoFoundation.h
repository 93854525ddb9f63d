/// \file
/// The whole public interface of the library in one include.
#ifndef VOFOUNDATION_H
#define VOFOUNDATION_H

#include "VoFoundationVersion.h"
#include "VoCore/VoError.h"
#include "VoCore/VoMemory.h"
#include "VoCore/VoString.h"
#include "VoCore/VoTemplates.h"
#include "VoCore/VoDebug.h"
#include "VoData/VoArray.h"
#include "VoData/VoList.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoStream.h"
#include "VoIO/VoStdStream.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoFile.h"
#include "VoIO/VoIterateDir.h"
#include "Mac/VoMacToolsOSX.h"
#include "VoMath/VoRandom.h"
#include "VoSystem/VoDate.h"
#include "VoSystem/VoPlatform.h"
#include "VoSystem/VoSystem.h"

#endif  // VOFOUNDATION_H
