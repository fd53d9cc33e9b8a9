// SPDX-License-Identifier: MIT
#pragma once

#include "image.hpp"

namespace ticklark::artwork {

// Reduces |image| to 256 palette colours with a one-bit mask. A pixel whose
// alpha is below one half becomes transparent and takes index 0, which is
// black, so that the colour bits leave the screen untouched under the mask.
// The other pixels are sorted into at most 255 colour boxes by median cut;
// each takes the entry nearest to its own colour. Equal input gives equal
// output, byte for byte.
IndexedImage QuantiseMedianCut(const Image& image);

}  // namespace ticklark::artwork
