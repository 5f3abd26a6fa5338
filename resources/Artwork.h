#pragma once
// The recorder's icons and pictures, built into the `resources` library as Qt
// resources under ":/cadenzo/". Call InitResources() once before the first load
// (the program's main and every test that loads artwork do; calling it again does
// no harm): a static library's resources are only registered when asked.
//
// Icons (128, 131, 132, 136, 163, 278, 279) come in several sizes inside one
// QIcon; pictures (130, 158 to 161) are bitmaps of their stated pixel size.
// Window thread only (QPixmap).

#include <QIcon>
#include <QPixmap>
#include <QString>

// Registers the library's Qt resources (artwork and help pages).
void InitResources();

// The icon with this id; a null QIcon for an unknown id.
QIcon LoadIcon(int id);
// The icon's image at `size` x `size` pixels; a null pixmap for an unknown id.
QPixmap LoadIconPixmap(int id, int size = 32);
// The bitmap with this id at its own size (130: 263 x 182; 158 to 161: 114 x 114);
// a null pixmap for an unknown id.
QPixmap LoadBitmap(int id);

// Resource path of a bitmap (":/cadenzo/bitmap159.png"), or of an icon's image of
// one size (":/cadenzo/icon128-32.png"). Empty for an unknown id or size.
QString BitmapPath(int id);
QString IconPath(int id, int size);
