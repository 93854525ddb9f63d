// VistalColord.h - the ICC profile of an output, from colord over the system D-Bus.
//
// See VistalPlatform.h for how the device is found and for the exit codes.

#ifndef VISTAL_VISTALCOLORD_H
#define VISTAL_VISTALCOLORD_H

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "VistalPlatform.h"

namespace vistal {

/// Lowercase hexadecimal MD5 of an EDID, as compositors store it in a colord
/// device's OutputEdidMd5 metadata.
std::string EdidMd5(std::span<const std::uint8_t> edid);

class ColordProfileFinder final : public ProfileFinder {
 public:
  ColordProfileFinder();
  ~ColordProfileFinder() override;
  ColordProfileFinder(const ColordProfileFinder&) = delete;
  ColordProfileFinder& operator=(const ColordProfileFinder&) = delete;

  /// Connects to the system bus on the first call; every call after a failed
  /// connection fails the same way.
  ProfileLookup Find(const FoundOutput& output) override;

 private:
  class Client;
  std::unique_ptr<Client> client_;
  int connect_result_ = -1;  // -1: not tried yet
};

}  // namespace vistal

#endif  // VISTAL_VISTALCOLORD_H
