// VistalCore.h - the logic of the vistal display lister, free of any platform call.
//
// vistal lists the active displays of the machine: identifier, vendor and product
// numbers, bounds on the desktop, resolution in pixels per inch and the path of the
// ICC profile that colour management assigns to each display, escaped for a shell.
//
// Everything here is a pure function of the command-line words and of a list of
// display records (DisplayList). Where the records come from on Linux, and what the
// exit codes mean, is described in VistalPlatform.h.

#ifndef VISTAL_VISTALCORE_H
#define VISTAL_VISTALCORE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vistal {

/// At most this many displays are listed; further ones are not reported.
inline constexpr std::size_t kMaxDisplays = 32;

/// The line written for "-v" (the program's name and version come first).
inline constexpr std::string_view kVersionLine =
    "Vistal v1.2 (Wayland or X RandR displays, colord profiles)\n";

/// The help text written for "-h" and "-?", followed by one more line end.
inline constexpr std::string_view kUsageText =
    "Vistal [options]\nOptions:\n  -h or -? show this help text\n  -v show version\n";

/// Shown (escaped like a path) when a display's profile has no file behind it.
inline constexpr std::string_view kUnknownLocationText = "Error: Unkown ICC-Profile location type!";

/// The result of looking up the colour profile of one display.
struct ProfileLookup {
  enum class Kind {
    kFile,        ///< the profile is a file; `path` holds its path
    kNoFileName,  ///< a profile exists but has no file name: listed with a message
    kFailed,      ///< no profile could be found; `error` holds the exit code
  };

  Kind kind = Kind::kFailed;
  std::string path;
  int error = 0;

  static ProfileLookup File(std::string file_path) { return {Kind::kFile, std::move(file_path), 0}; }
  static ProfileLookup NoFileName() { return {Kind::kNoFileName, {}, 0}; }
  static ProfileLookup Failed(int code) { return {Kind::kFailed, {}, code}; }
};

/// One active display as the platform reports it.
struct DisplayRecord {
  std::int32_t id = 0;        ///< printed with "ID: %d"
  std::uint32_t vendor = 0;   ///< printed as at least four hex digits
  std::uint32_t product = 0;  ///< printed as at least four hex digits
  float origin_x = 0.0F;      ///< left edge on the desktop, pixels
  float origin_y = 0.0F;      ///< top edge on the desktop, pixels
  float width = 0.0F;         ///< pixels
  float height = 0.0F;        ///< pixels
  float width_mm = 0.0F;      ///< physical width of the unrotated panel
  float height_mm = 0.0F;     ///< physical height of the unrotated panel
  ProfileLookup profile;
};

/// What the platform answered when asked for the displays.
struct DisplayList {
  int error = 0;  ///< non-zero: the list could not be had; this is the exit code
  std::vector<DisplayRecord> displays;
};

/// What the program does, chosen by its first argument.
enum class Action { kVersion, kUsage, kList };

/// Text for standard output and the exit status.
struct Outcome {
  std::string text;
  int status = 0;
};

/// Pixels per inch horizontally and vertically, each rounded to single precision.
struct Resolution {
  float x = 0.0F;
  float y = 0.0F;
};

/// Vendor and product numbers taken from an EDID block.
struct EdidIds {
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
};

/// Chooses the action from the arguments that follow the program name. Only the
/// first one counts, and it must equal "-v", "-h" or "-?" byte for byte and whole.
Action ChooseAction(std::span<const std::string_view> args);

/// Escapes text for a shell: each backslash becomes two, each blank becomes
/// backslash-blank. Every other byte passes unchanged; the result is never cut.
std::string EscapeForShell(std::string_view text);

/// Resolution of a display. A display narrower than it is tall is a rotated panel,
/// so its physical width and height are swapped first. A physical size of zero
/// gives an infinite resolution, as computed; a negative one (KWin reports -1 for
/// unknown) is taken as 0.
Resolution ComputeResolution(const DisplayRecord& display);

/// Vendor number (bytes 8-9, big-endian) and product number (bytes 10-11,
/// little-endian) of an EDID block; zero for both when the block is shorter.
EdidIds ReadEdidIds(std::span<const std::uint8_t> edid);

/// Position and size of a display on the desktop, in pixels.
struct Bounds {
  float x = 0.0F;
  float y = 0.0F;
  float width = 0.0F;
  float height = 0.0F;
};

/// What a Wayland compositor tells about an output in wl_output events.
struct WaylandOutputState {
  std::int32_t x = 0;  ///< geometry position
  std::int32_t y = 0;
  std::int32_t mode_width = 0;  ///< current mode, hardware pixels
  std::int32_t mode_height = 0;
  std::int32_t scale = 1;      ///< integer buffer scale
  std::int32_t transform = 0;  ///< wl_output transform, 0 to 7
};

/// Desktop bounds of a Wayland output known only from wl_output: the current
/// mode turned by the transform (90 and 270 degrees, flipped or not, swap width
/// and height), divided by the scale with the fraction dropped, at the
/// geometry position. A scale below 1 counts as 1.
Bounds BoundsFromOutputMode(const WaylandOutputState& output);

/// When `entry` (a name in /sys/class/drm) is "card<N>-<connector>" exactly, the
/// number N; otherwise nothing. "card0-HDMI-A-1" belongs to "HDMI-A-1", not to
/// "HDMI-A-10" or "A-1".
std::optional<unsigned long> ConnectorCardNumber(std::string_view entry, std::string_view connector);

/// The kernel's name of a connector that the GNOME compositor and Xorg's
/// modesetting driver spell their own way: "HDMI-<n>" is the kernel's
/// "HDMI-A-<n>", "None-<n>" its "Unknown-<n>". Empty for every other name
/// (those, "DIN-<n>" among them, are spelled as the kernel spells them).
std::string KernelConnectorName(std::string_view name);

/// A display device as colord lists it (the properties vistal looks at).
struct ColordDevice {
  std::string path;         ///< D-Bus object path
  std::string id;           ///< DeviceId
  std::string kind;         ///< Kind: "display", "printer", ...
  std::uint32_t owner = 0;  ///< Owner: the uid of the process that created it
  std::vector<std::pair<std::string, std::string>> metadata;
  std::vector<std::string> profiles;  ///< Profiles, the default first
};

/// What identifies an output to its colord device; an empty key matches nothing.
struct ColordDeviceKeys {
  std::string_view output_name;  ///< XRANDR_name metadata, or the device id (KWin)
  std::string_view edid_md5;     ///< OutputEdidMd5 metadata
  std::string_view weston_id;    ///< the device id weston's colord module makes (WestonColordId)
};

/// The device of an output, or nothing. Only devices of kind "display" count. By
/// rule, in this order: metadata XRANDR_name equal to the output name (GNOME,
/// xiccd, colord-kde); metadata OutputEdidMd5 equal to the EDID's MD5; device id
/// equal to the output name (KWin); device id equal to weston's. colord keeps one
/// device of an id per user, so the rules are tried first on the devices `uid`
/// owns, then on all: with two users' compositors registering the same monitors,
/// each user gets their own device. `rule`, when not null, receives the rule's name.
std::optional<std::size_t> ChooseColordDevice(std::span<const ColordDevice> devices,
                                              const ColordDeviceKeys& keys, std::uint32_t uid,
                                              const char** rule = nullptr);

/// The device id weston's colord module gives an output: "xrandr", then the
/// vendor's name, the model and the serial, each only when it is neither empty
/// nor "unknown", joined by "-". Empty when all three are missing (weston then
/// numbers the output its own way, which no client sees).
std::string WestonColordId(std::string_view vendor_name, std::string_view model, std::string_view serial);

/// The serial as weston reads it from an EDID: the text of the serial-number
/// descriptor (up to 12 bytes, cut at the first line end, each unprintable byte
/// a '-', dropped when more than 4 were), else the 32-bit serial of bytes 12-15
/// in decimal when not 0, else empty.
std::string EdidSerialText(std::span<const std::uint8_t> edid);

/// The name hwdata's pnp.ids (lines "ABC<tab>Name") gives a three-letter PNP id,
/// or empty.
std::string PnpVendorName(std::string_view pnp_ids, std::string_view pnp_id);

/// True when the VISTAL_DEBUG environment value asks for diagnostics: set, not
/// empty and not "0".
bool DebugWanted(const char* value);

/// Writes one diagnostic line ("vistal: " + text + line end) to standard error
/// when VISTAL_DEBUG asks for it; standard output is never touched.
__attribute__((format(printf, 1, 2))) void DebugNote(const char* format, ...);

/// The full listing for a display list: the count line and one line per display,
/// stopping after the first display whose profile could not be found.
Outcome RenderListing(const DisplayList& list);

/// Output for "-v" and for "-h"/"-?" (no display is needed for either).
Outcome RenderVersion();
Outcome RenderUsage();

}  // namespace vistal

#endif  // VISTAL_VISTALCORE_H
