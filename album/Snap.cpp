#include "album/Snap.h"

namespace Snap {

int64_t Find(const CAlbumLayout& /*layout*/, int64_t nFrame, double /*fSeconds*/,
             int64_t /*nLow*/, int64_t /*nHigh*/)
{
    return nFrame;
}

}  // namespace Snap
