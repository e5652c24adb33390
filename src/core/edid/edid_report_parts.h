#pragma once

// The report parts, one file each; only the decoder calls them.
#include "edid/edid_image.h"

#include <string>

namespace mc::edid {

void appendVideoReport(EdidImageView image, std::string& out);
void appendAudioReport(EdidImageView image, std::string& out);
void appendGeneralReport(EdidImageView image, std::string& out);

// Parts of the general report taken from the extension's vendor-specific and
// extended-tag data blocks.
void appendDeepColor(EdidImageView image, std::string& out);
void append3dVideo(EdidImageView image, std::string& out);
void appendYcbcr420(EdidImageView image, std::string& out);

} // namespace mc::edid
