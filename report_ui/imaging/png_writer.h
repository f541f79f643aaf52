// The PNG writer: the 16-grey image, the checksums, the chunk layout, and
// the colour modes that choose between the 256-colour and the grey file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report_ui/imaging/pixels.h"
#include "report_ui/imaging/wu_quantizer.h"

namespace kestrix::imaging {

// CRC-32 (ISO-HDLC) and Adler-32, continued from a previous value.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// The 16 grey levels of the grey image, darkest first.
extern const uint8_t kGreyLevels[16];

// The grey of a pixel: (red * 77 + green * 151 + blue * 28) / 256.
inline uint8_t GreyOf(uint8_t r, uint8_t g, uint8_t b) { return static_cast<uint8_t>((r * 77 + g * 151 + b * 28) >> 8); }

// The image of 16 grey levels (bit depth 4), each pixel's grey mapped to
// the nearest level. The bitmap is left as it is.
TIndexedImage GreyTo16(const TPixelView& pixels);

// The PNG file of a palette image: signature, IHDR, PLTE, one IDAT holding
// the zlib stream of all rows (filter 0), IEND. Empty when the image has no
// pixels or deflate fails.
std::vector<uint8_t> WritePng(const TIndexedImage& image);

// Colour modes: 0 256 colours; 1 16 greys; 2..5 256 colours, or 16 greys
// when the 256-colour file exceeds the mode's byte limit and the grey file
// is smaller. Other values count as 0.
enum TColourMode { cm256Colours = 0, cmGrey16 = 1, cmLimit50K = 2, cmLimit100K = 3, cmLimit200K = 4, cmLimit300K = 5 };
// The byte limit of a mode (0: none).
size_t ModeByteLimit(int mode);
// The colour mode for the setting ScrShotDepth.
int ColourModeForDepth(int32_t depth);

// Whether the grey file is made at all (mode 1, no 256-colour file, or one
// over the mode's limit), and whether it then replaces the other (there is
// no 256-colour file, or the grey one is smaller).
bool GreyFileWanted(int mode, size_t colourBytes);
inline bool GreyFileWins(size_t colourBytes, size_t greyBytes) { return colourBytes == 0 || greyBytes < colourBytes; }

struct TPngEncoding {
  std::vector<uint8_t> file;  // empty: the image could not be encoded
  TIndexedImage image;        // what the file holds
};
TPngEncoding EncodePng(const TPixelView& pixels, int mode);

}  // namespace kestrix::imaging
