#pragma once
// Finding the silence a cut belongs in.

#include "album/Album.h"

#include <vector>

namespace Snap {

// The noise floor of click-free block levels (Levels::Of): the quietest of them, but never
// below one step of 16-bit sound. Digital silence with its dither has a median magnitude
// of 0 while the dither flips samples by one step; judged against 0, every such sample
// would stand out as sound and a song's own silent tail would hold no quiet at all.
float Floor(const std::vector<float>& levels);

// The magnitude (full scale 1.0) above which a sample stands out of the quiet round it as
// sound, from the click-free block levels there (Levels::Of): a peak well above the
// quietest of them. 0 when nothing stands clearly above that quietest level: a steady
// noise or passage holds no quiet stretch.
float QuietPeak(const std::vector<float>& levels);

// See CAlbum::FindSnap.
int64_t Find(const CAlbumLayout& layout, int64_t nFrame, double fSeconds, int64_t nLow,
             int64_t nHigh);

}  // namespace Snap
