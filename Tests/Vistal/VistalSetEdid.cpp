// VistalSetEdid.cpp - gives an X RandR output an EDID block, for test and demo
// setups whose outputs have none (Xorg's dummy driver, for one).
//
//   vistal_set_edid OUTPUT MANUFACTURER PRODUCT SERIAL [MONITOR-NAME]
//   vistal_set_edid --file PATH WIDTHxHEIGHT MANUFACTURER PRODUCT SERIAL [MONITOR-NAME]
//
// Builds a valid 128-byte EDID 1.3 block for the X server named by DISPLAY: the
// three-letter MANUFACTURER id (bytes 8-9), the PRODUCT code (bytes 10-11,
// little-endian) and SERIAL number (bytes 12-15, little-endian), the output's
// physical size, a detailed timing taken from its current mode and the monitor
// name; then stores it as the output's EDID property. With --file it writes the
// block to PATH instead, with a 60 Hz timing of WIDTHxHEIGHT and no physical size,
// as a kernel DRM connector's edid file holds it; no X server is needed then.
// Exit status 0 on success, 1 on a usage error, 2 when the X server, the output
// or the file cannot be used.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using EdidBlock = std::array<unsigned char, 128>;

bool ParseNumber(const char* text, unsigned long max, unsigned long& value) {
  char* end = nullptr;
  value = std::strtoul(text, &end, 0);
  return *text != '\0' && *end == '\0' && value <= max;
}

void PutDetailedTiming(unsigned char* d, const XRRModeInfo& mode, unsigned width_mm, unsigned height_mm) {
  const unsigned clock = static_cast<unsigned>(mode.dotClock / 10000);  // 10 kHz units
  const unsigned h_active = mode.width;
  const unsigned h_blank = mode.hTotal - mode.width;
  const unsigned v_active = mode.height;
  const unsigned v_blank = mode.vTotal - mode.height;
  const unsigned h_offset = mode.hSyncStart - mode.width;
  const unsigned h_pulse = mode.hSyncEnd - mode.hSyncStart;
  const unsigned v_offset = mode.vSyncStart - mode.height;
  const unsigned v_pulse = mode.vSyncEnd - mode.vSyncStart;
  d[0] = clock & 0xFF;
  d[1] = (clock >> 8) & 0xFF;
  d[2] = h_active & 0xFF;
  d[3] = h_blank & 0xFF;
  d[4] = static_cast<unsigned char>(((h_active >> 8) & 0x0F) << 4 | ((h_blank >> 8) & 0x0F));
  d[5] = v_active & 0xFF;
  d[6] = v_blank & 0xFF;
  d[7] = static_cast<unsigned char>(((v_active >> 8) & 0x0F) << 4 | ((v_blank >> 8) & 0x0F));
  d[8] = h_offset & 0xFF;
  d[9] = h_pulse & 0xFF;
  d[10] = static_cast<unsigned char>((v_offset & 0x0F) << 4 | (v_pulse & 0x0F));
  d[11] = static_cast<unsigned char>(((h_offset >> 8) & 0x03) << 6 | ((h_pulse >> 8) & 0x03) << 4 |
                                     ((v_offset >> 4) & 0x03) << 2 | ((v_pulse >> 4) & 0x03));
  d[12] = width_mm & 0xFF;
  d[13] = height_mm & 0xFF;
  d[14] = static_cast<unsigned char>(((width_mm >> 8) & 0x0F) << 4 | ((height_mm >> 8) & 0x0F));
  d[15] = 0;
  d[16] = 0;
  d[17] = 0x18;  // digital separate sync, negative polarities
  if ((mode.modeFlags & RR_HSyncPositive) != 0) {
    d[17] |= 0x02;
  }
  if ((mode.modeFlags & RR_VSyncPositive) != 0) {
    d[17] |= 0x04;
  }
}

void PutTextDescriptor(unsigned char* d, unsigned char tag, std::string_view text) {
  d[3] = tag;
  std::size_t i = 0;
  for (; i < 13 && i < text.size(); ++i) {
    d[5 + i] = static_cast<unsigned char>(text[i]);
  }
  if (i < 13) {
    d[5 + i++] = 0x0A;
  }
  for (; i < 13; ++i) {
    d[5 + i] = 0x20;
  }
}

void PutRangeLimits(unsigned char* d, const XRRModeInfo& mode) {
  d[3] = 0xFD;
  d[5] = 1;                                                                        // min vertical rate, Hz
  d[6] = 240;                                                                      // max vertical rate, Hz
  d[7] = 1;                                                                        // min horizontal rate, kHz
  d[8] = 255;                                                                      // max horizontal rate, kHz
  const unsigned max_clock = static_cast<unsigned>(mode.dotClock / 10000000 + 1);  // 10 MHz units
  d[9] = static_cast<unsigned char>(max_clock > 255 ? 255 : max_clock);
  d[10] = 0x00;  // default timing formula
  d[11] = 0x0A;
  for (int i = 12; i < 18; ++i) {
    d[i] = 0x20;
  }
}

EdidBlock MakeEdid(unsigned manufacturer, unsigned product, unsigned long serial, const XRRModeInfo& mode,
                   unsigned width_mm, unsigned height_mm, std::string_view name) {
  EdidBlock e{};
  const unsigned char header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::memcpy(e.data(), header, sizeof header);
  e[8] = (manufacturer >> 8) & 0xFF;
  e[9] = manufacturer & 0xFF;
  e[10] = product & 0xFF;
  e[11] = (product >> 8) & 0xFF;
  for (int i = 0; i < 4; ++i) {
    e[12 + i] = (serial >> (8 * i)) & 0xFF;
  }
  e[16] = 1;   // week of manufacture
  e[17] = 30;  // year 2020
  e[18] = 1;   // EDID 1.3
  e[19] = 3;
  e[20] = 0x80;                                              // digital input
  e[21] = static_cast<unsigned char>((width_mm + 5) / 10);   // cm
  e[22] = static_cast<unsigned char>((height_mm + 5) / 10);  // cm
  e[23] = 120;                                               // gamma 2.2
  e[24] = 0x0E;  // RGB colour, sRGB default space, preferred timing first
  const unsigned char srgb_chromaticity[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
  std::memcpy(e.data() + 25, srgb_chromaticity, sizeof srgb_chromaticity);
  for (int i = 38; i < 54; ++i) {
    e[i] = 0x01;  // no standard timings
  }
  PutDetailedTiming(e.data() + 54, mode, width_mm, height_mm);
  PutRangeLimits(e.data() + 72, mode);
  PutTextDescriptor(e.data() + 90, 0xFC, name);
  PutTextDescriptor(e.data() + 108, 0xFF, std::to_string(serial));
  unsigned sum = 0;
  for (int i = 0; i < 127; ++i) {
    sum += e[i];
  }
  e[127] = static_cast<unsigned char>((256 - sum % 256) % 256);
  return e;
}

int Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "vistal_set_edid: %s%s\n", message, detail);
  return 2;
}

}  // namespace

// A mode with short blanking at 60 Hz, like the test setups' modelines.
XRRModeInfo SixtyHertzMode(unsigned width, unsigned height) {
  XRRModeInfo mode{};
  mode.width = width;
  mode.height = height;
  mode.hSyncStart = width + 48;
  mode.hSyncEnd = width + 80;
  mode.hTotal = width + 160;
  mode.vSyncStart = height + 3;
  mode.vSyncEnd = height + 8;
  mode.vTotal = height + 35;
  mode.dotClock = static_cast<unsigned long>(mode.hTotal) * mode.vTotal * 60;
  mode.modeFlags = RR_HSyncPositive | RR_VSyncNegative;
  return mode;
}

int WriteEdidFile(const char* path, const EdidBlock& edid) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return Fail("cannot write ", path);
  }
  const bool written = std::fwrite(edid.data(), 1, edid.size(), file) == edid.size();
  return std::fclose(file) == 0 && written ? 0 : Fail("cannot write ", path);
}

int main(int argc, char** argv) {
  const bool to_file = argc > 1 && std::string_view(argv[1]) == "--file";
  unsigned width = 0;
  unsigned height = 0;
  if (to_file) {
    if (argc < 4 || std::sscanf(argv[3], "%ux%u", &width, &height) != 2 || width == 0 || height == 0) {
      argc = 0;
    } else {
      argv += 2;  // the rest as for an X output, with the size in place of its name
      argc -= 2;
    }
  }
  if (argc < 5 || argc > 6) {
    std::fprintf(
        stderr,
        "usage: vistal_set_edid OUTPUT MANUFACTURER PRODUCT SERIAL [MONITOR-NAME]\n"
        "       vistal_set_edid --file PATH WIDTHxHEIGHT MANUFACTURER PRODUCT SERIAL [MONITOR-NAME]\n");
    return 1;
  }
  const std::string_view output_name = argv[1];
  const std::string_view letters = argv[2];
  unsigned long product = 0;
  unsigned long serial = 0;
  if (letters.size() != 3 || !ParseNumber(argv[3], 0xFFFF, product) ||
      !ParseNumber(argv[4], 0xFFFFFFFF, serial)) {
    std::fprintf(stderr,
                 "vistal_set_edid: MANUFACTURER is three letters A-Z, PRODUCT 0..0xffff, SERIAL 32 bits\n");
    return 1;
  }
  unsigned manufacturer = 0;
  for (const char c : letters) {
    if (c < 'A' || c > 'Z') {
      std::fprintf(stderr, "vistal_set_edid: MANUFACTURER must be three capital letters\n");
      return 1;
    }
    manufacturer = (manufacturer << 5) | static_cast<unsigned>(c - 'A' + 1);
  }
  const std::string_view monitor_name = argc == 6 ? std::string_view(argv[5]) : output_name;
  if (to_file) {
    return WriteEdidFile(argv[0], MakeEdid(manufacturer, static_cast<unsigned>(product), serial,
                                           SixtyHertzMode(width, height), 0, 0, monitor_name));
  }

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return Fail("cannot open the X display", "");
  }
  int status = 2;
  XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display));
  for (int i = 0; resources != nullptr && i < resources->noutput; ++i) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i]);
    if (info == nullptr) {
      continue;
    }
    if (std::string_view(info->name, static_cast<std::size_t>(info->nameLen)) == output_name &&
        info->crtc != None) {
      XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, info->crtc);
      for (int m = 0; crtc != nullptr && m < resources->nmode; ++m) {
        if (resources->modes[m].id != crtc->mode) {
          continue;
        }
        const EdidBlock edid = MakeEdid(manufacturer, static_cast<unsigned>(product), serial,
                                        resources->modes[m], static_cast<unsigned>(info->mm_width),
                                        static_cast<unsigned>(info->mm_height), monitor_name);
        XRRChangeOutputProperty(display, resources->outputs[i],
                                XInternAtom(display, RR_PROPERTY_RANDR_EDID, False), XA_INTEGER, 8,
                                PropModeReplace, edid.data(), static_cast<int>(edid.size()));
        XSync(display, False);
        status = 0;
      }
      if (crtc != nullptr) {
        XRRFreeCrtcInfo(crtc);
      }
    }
    XRRFreeOutputInfo(info);
  }
  if (resources != nullptr) {
    XRRFreeScreenResources(resources);
  }
  XCloseDisplay(display);
  if (status != 0) {
    return Fail("no connected output with a mode named ", argv[1]);
  }
  return 0;
}
