#pragma once
// Finding the silence a cut belongs in.

#include "album/Album.h"

#include <vector>

namespace Snap {

// The magnitude (full scale 1.0) above which a sample stands out of the quiet round it as
// sound, from the click-free block levels there (Levels::Of): a peak well above the
// quietest of them. 0 when nothing stands clearly above that quietest level: a steady
// noise or passage holds no quiet stretch.
float QuietPeak(const std::vector<float>& levels);

// See CAlbum::FindSnap.
int64_t Find(const CAlbumLayout& layout, int64_t nFrame, double fSeconds, int64_t nLow,
             int64_t nHigh);

}  // namespace Snap
