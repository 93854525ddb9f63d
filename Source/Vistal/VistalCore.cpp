// VistalCore.cpp - argument words, resolution, escaping and the listing text.

#include "VistalCore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "VistalPlatform.h"

namespace vistal {
namespace {

// Appends printf-formatted text to `out`, however long it is.
__attribute__((format(printf, 2, 3))) void AppendFormat(std::string& out, const char* format, ...) {
  char small[128];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    out.append(small, static_cast<std::size_t>(needed));
  } else {
    const std::size_t old_size = out.size();
    out.resize(old_size + static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(out.data() + old_size, static_cast<std::size_t>(needed) + 1, format, again);
    out.resize(old_size + static_cast<std::size_t>(needed));
  }
  va_end(again);
}

void AppendDisplayLine(std::string& out, const DisplayRecord& display) {
  AppendFormat(out, "ID: %d ", static_cast<int>(display.id));
  AppendFormat(out, "VendorID: 0x%04x ", static_cast<unsigned>(display.vendor));
  AppendFormat(out, "ProductID: 0x%04x ", static_cast<unsigned>(display.product));
  AppendFormat(out, "OriginX: %.0f OriginY: %.0f Width: %.0f Height: %.0f",
               static_cast<double>(display.origin_x), static_cast<double>(display.origin_y),
               static_cast<double>(display.width), static_cast<double>(display.height));
  const Resolution resolution = ComputeResolution(display);
  AppendFormat(out, " Resolution: %fx%f", static_cast<double>(resolution.x),
               static_cast<double>(resolution.y));
}

bool HasMetadata(const ColordDevice& device, std::string_view key, std::string_view value) {
  return !value.empty() &&
         std::any_of(device.metadata.begin(), device.metadata.end(),
                     [&](const auto& entry) { return entry.first == key && entry.second == value; });
}

}  // namespace

Action ChooseAction(std::span<const std::string_view> args) {
  if (args.empty()) {
    return Action::kList;
  }
  const std::string_view first = args.front();
  if (first == "-v") {
    return Action::kVersion;
  }
  if (first == "-h" || first == "-?") {
    return Action::kUsage;
  }
  return Action::kList;
}

std::string EscapeForShell(std::string_view text) {
  // One pass does what replacing all backslashes first and all blanks second does.
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == ' ') {
      escaped += "\\ ";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

Resolution ComputeResolution(const DisplayRecord& display) {
  // A size that is not positive is unknown: 0, which gives the infinity below.
  double physical_width = display.width_mm > 0.0F ? display.width_mm : 0.0;
  double physical_height = display.height_mm > 0.0F ? display.height_mm : 0.0;
  if (display.width < display.height) {
    std::swap(physical_width, physical_height);
  }
  const double kMillimetresPerInch = 25.4;
  Resolution resolution;
  resolution.x =
      static_cast<float>(static_cast<double>(display.width) * kMillimetresPerInch / physical_width);
  resolution.y =
      static_cast<float>(static_cast<double>(display.height) * kMillimetresPerInch / physical_height);
  return resolution;
}

EdidIds ReadEdidIds(std::span<const std::uint8_t> edid) {
  EdidIds ids;
  if (edid.size() < 12) {
    return ids;
  }
  ids.vendor = (static_cast<std::uint32_t>(edid[8]) << 8) | edid[9];
  ids.product = edid[10] | (static_cast<std::uint32_t>(edid[11]) << 8);
  return ids;
}

Bounds BoundsFromOutputMode(const WaylandOutputState& output) {
  std::int32_t width = output.mode_width;
  std::int32_t height = output.mode_height;
  if (output.transform % 2 != 0) {  // 90 or 270 degrees, flipped or not
    std::swap(width, height);
  }
  const std::int32_t scale = output.scale < 1 ? 1 : output.scale;
  return {static_cast<float>(output.x), static_cast<float>(output.y), static_cast<float>(width / scale),
          static_cast<float>(height / scale)};
}

std::optional<unsigned long> ConnectorCardNumber(std::string_view entry, std::string_view connector) {
  constexpr std::string_view kPrefix = "card";
  if (connector.empty() || !entry.starts_with(kPrefix)) {
    return std::nullopt;
  }
  std::size_t digits_end = kPrefix.size();
  while (digits_end < entry.size() && entry[digits_end] >= '0' && entry[digits_end] <= '9') {
    ++digits_end;
  }
  const std::string_view digits = entry.substr(kPrefix.size(), digits_end - kPrefix.size());
  if (digits.empty() || digits.size() > 9 || digits_end >= entry.size() || entry[digits_end] != '-' ||
      entry.substr(digits_end + 1) != connector) {
    return std::nullopt;
  }
  unsigned long number = 0;
  for (const char digit : digits) {
    number = number * 10 + static_cast<unsigned long>(digit - '0');
  }
  return number;
}

std::string KernelConnectorName(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kSpellings[] = {{"HDMI-", "HDMI-A-"},
                                                                                 {"None-", "Unknown-"}};
  for (const auto& [ours, kernels] : kSpellings) {
    if (!name.starts_with(ours)) {
      continue;
    }
    const std::string_view number = name.substr(ours.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
      return {};
    }
    return std::string(kernels) + std::string(number);
  }
  return {};
}

std::optional<std::size_t> ChooseColordDevice(std::span<const ColordDevice> devices,
                                              const ColordDeviceKeys& keys, std::uint32_t uid,
                                              const char** rule) {
  using Match = bool (*)(const ColordDevice&, const ColordDeviceKeys&);
  static constexpr std::pair<const char*, Match> kRules[] = {
      {"XRANDR_name", [](const ColordDevice& d,
                         const ColordDeviceKeys& k) { return HasMetadata(d, "XRANDR_name", k.output_name); }},
      {"OutputEdidMd5",
       [](const ColordDevice& d, const ColordDeviceKeys& k) {
         return HasMetadata(d, "OutputEdidMd5", k.edid_md5);
       }},
      {"device id = output name",
       [](const ColordDevice& d, const ColordDeviceKeys& k) {
         return !k.output_name.empty() && d.id == k.output_name;
       }},
      {"weston's device id",
       [](const ColordDevice& d, const ColordDeviceKeys& k) {
         return !k.weston_id.empty() && d.id == k.weston_id;
       }},
  };
  for (const bool own_only : {true, false}) {
    for (const auto& [name, matches] : kRules) {
      for (std::size_t i = 0; i < devices.size(); ++i) {
        const ColordDevice& device = devices[i];
        if (device.kind == "display" && (!own_only || device.owner == uid) && matches(device, keys)) {
          if (rule != nullptr) {
            *rule = name;
          }
          return i;
        }
      }
    }
  }
  return std::nullopt;
}

std::string WestonColordId(std::string_view vendor_name, std::string_view model, std::string_view serial) {
  std::string id;
  for (const std::string_view part : {vendor_name, model, serial}) {
    if (!part.empty() && part != "unknown") {
      id += '-';
      id += part;
    }
  }
  return id.empty() ? id : "xrandr" + id;
}

std::string EdidSerialText(std::span<const std::uint8_t> edid) {
  constexpr std::size_t kBlock = 128;
  constexpr std::size_t kFirstDescriptor = 54;
  constexpr std::size_t kDescriptorSize = 18;
  constexpr std::uint8_t kSerialDescriptor = 0xFF;
  if (edid.size() < kBlock) {
    return {};
  }
  std::string text;
  for (std::size_t at = kFirstDescriptor; at + kDescriptorSize <= kBlock - 1; at += kDescriptorSize) {
    if (edid[at] != 0 || edid[at + 1] != 0 || edid[at + 3] != kSerialDescriptor) {
      continue;
    }
    text.clear();
    int replaced = 0;
    for (std::size_t i = at + 5; i < at + 5 + 12; ++i) {
      const std::uint8_t c = edid[i];
      if (c == '\0' || c == '\n' || c == '\r') {
        break;
      }
      const bool printable = c >= 0x20 && c < 0x7F;
      replaced += printable ? 0 : 1;
      text += printable ? static_cast<char>(c) : '-';
    }
    if (replaced > 4) {
      text.clear();
    }
  }
  if (text.empty()) {
    const std::uint32_t serial = edid[12] | (static_cast<std::uint32_t>(edid[13]) << 8) |
                                 (static_cast<std::uint32_t>(edid[14]) << 16) |
                                 (static_cast<std::uint32_t>(edid[15]) << 24);
    if (serial != 0) {
      text = std::to_string(serial);
    }
  }
  return text;
}

std::string PnpVendorName(std::string_view pnp_ids, std::string_view pnp_id) {
  if (pnp_id.size() != 3) {
    return {};
  }
  std::size_t at = 0;
  while (at < pnp_ids.size()) {
    std::size_t end = pnp_ids.find('\n', at);
    if (end == std::string_view::npos) {
      end = pnp_ids.size();
    }
    std::string_view line = pnp_ids.substr(at, end - at);
    if (line.size() > 4 && line.substr(0, 3) == pnp_id && line[3] == '\t') {
      line.remove_prefix(4);
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      return std::string(line);
    }
    at = end + 1;
  }
  return {};
}

bool DebugWanted(const char* value) {
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void DebugNote(const char* format, ...) {
  static const bool wanted = DebugWanted(std::getenv("VISTAL_DEBUG"));
  if (!wanted) {
    return;
  }
  std::string line = "vistal: ";
  char text[512];
  std::va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length > 0) {
    line.append(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

Outcome RenderListing(const DisplayList& list) {
  Outcome outcome;
  if (list.error != 0) {
    AppendFormat(outcome.text, "Unable to get list of displays! Error %d\n", list.error);
    outcome.status = list.error;
    return outcome;
  }
  const std::size_t count = std::min(list.displays.size(), kMaxDisplays);
  AppendFormat(outcome.text, "Found %d Displays:\n", static_cast<int>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const DisplayRecord& display = list.displays[i];
    AppendDisplayLine(outcome.text, display);
    switch (display.profile.kind) {
      case ProfileLookup::Kind::kFile:
        outcome.text += " ICC-Profile: ";
        outcome.text += EscapeForShell(display.profile.path);
        outcome.text += '\n';
        break;
      case ProfileLookup::Kind::kNoFileName:
        outcome.text += " ICC-Profile: ";
        outcome.text += EscapeForShell(kUnknownLocationText);
        outcome.text += '\n';
        break;
      case ProfileLookup::Kind::kFailed:
        AppendFormat(outcome.text, "Unable to find ICC-Profile for display ID: %d! Error %d\n",
                     static_cast<int>(display.id), display.profile.error);
        outcome.status = display.profile.error;
        return outcome;
    }
  }
  return outcome;
}

Outcome RenderVersion() { return {std::string(kVersionLine), kExitOk}; }

Outcome RenderUsage() {
  Outcome outcome{std::string(kUsageText), kExitOk};
  outcome.text += '\n';
  return outcome;
}

DisplayList SessionSource::Query() {
  const bool has_wayland = wayland_display_ != nullptr && *wayland_display_ != '\0';
  const bool has_x = x_display_ != nullptr && *x_display_ != '\0';
  FoundOutputs found;
  if (has_wayland) {
    DebugNote("asking the Wayland compositor %s", wayland_display_);
    found = wayland_.List();
    if (found.error != 0 && has_x) {
      DebugNote("the compositor cannot be reached; asking the X server %s instead", x_display_);
      found = x11_.List();
    }
  } else if (has_x) {
    DebugNote("WAYLAND_DISPLAY is not set; asking the X server %s", x_display_);
    found = x11_.List();
  } else {
    DebugNote("neither WAYLAND_DISPLAY nor DISPLAY is set");
    found.error = kExitNoDisplayName;
  }

  DisplayList list;
  list.error = found.error;
  if (found.error != 0) {
    return list;
  }
  int failure = kExitOk;
  const std::size_t count = std::min(found.outputs.size(), kMaxDisplays);
  for (std::size_t i = 0; i < count; ++i) {
    FoundOutput& output = found.outputs[i];
    if (failure == kExitOk) {
      output.record.profile = profiles_.Find(output);
      if (output.record.profile.kind == ProfileLookup::Kind::kFailed) {
        failure = output.record.profile.error;
      }
    } else {
      // The listing ends at the first failure; the profiles are not asked again.
      output.record.profile = ProfileLookup::Failed(failure);
    }
    list.displays.push_back(std::move(output.record));
  }
  return list;
}

Outcome Run(std::span<const std::string_view> args, DisplaySource& source) {
  switch (ChooseAction(args)) {
    case Action::kVersion:
      return RenderVersion();
    case Action::kUsage:
      return RenderUsage();
    case Action::kList:
      break;
  }
  return RenderListing(source.Query());
}

}  // namespace vistal
