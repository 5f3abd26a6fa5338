#pragma once
// Finding the silence a cut belongs in.

#include "album/Album.h"

namespace Snap {

// See CAlbum::FindSnap.
int64_t Find(const CAlbumLayout& layout, int64_t nFrame, double fSeconds, int64_t nLow,
             int64_t nHigh);

}  // namespace Snap
