#pragma once
// The main window's appearance decisions, kept apart from the widgets so they can be
// checked with chosen screens: the two colour schemes, the colour count of a screen,
// the large-font decision and its layout nudge, the centred minimised icon, and the
// style sheets that give each kind of control its colours.
// Plain functions without state; any thread may call them (the window thread does).

#include <QColor>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>

class CAppearance {
public:
    // Colour values are 32 bits: red in the lowest byte, then green, then blue; a high
    // byte of 2 marks a palette-relative colour. On true-colour screens only the three
    // low bytes matter.
    static constexpr uint32_t kPurpleDeep = 0x0250003C;      // red 60, green 0, blue 80
    static constexpr uint32_t kPurple16 = 0x02800080;        // red 128, blue 128, at start
    static constexpr uint32_t kPurple16Plain = 0x00800080;   // the same after a switch
    static constexpr uint32_t kWhitePalette = 0x02FFFFFF;
    static constexpr uint32_t kWhitePlain = 0x00FFFFFF;
    static constexpr uint32_t kComboText = 0x0032C832;       // red 50, green 200, blue 50
    static constexpr uint32_t kStatusText = 0x000000FF;      // red 255
    static constexpr uint32_t kBlack = 0x00000000;
    static constexpr int kTrueColour = 16777216;

    struct Colours {
        uint32_t crBackground;
        uint32_t crText;
    };

    // Colours of the scheme chosen at start-up (palette-relative values).
    // crButtonFace / crSystemText are the system's button-face and text colours.
    static Colours StartColours(int bBackground, int nNumColors, uint32_t crButtonFace,
                                uint32_t crSystemText);
    // Colours after the Background check box has been switched (plain values).
    static Colours SwitchColours(int bBackground, int nNumColors, uint32_t crButtonFace,
                                 uint32_t crSystemText);

    // Number of colours a screen of the given depth shows; 24 bits and more count as
    // true colour (16777216).
    static int NumColorsForDepth(int nDepthBits);

    // Height in device pixels of the system font on a screen: 16 pixels at 96 dots per
    // inch, growing with the screen's logical resolution and its scale factor.
    static int SystemFontHeight(double fLogicalDpi, double fDevicePixelRatio);
    // 1 when that height is 20 pixels or more (120 dpi and up, or a scaled screen).
    static int IsLargeFonts(double fLogicalDpi, double fDevicePixelRatio);

    // Where the two controls move on a large-font screen: the icon control down by a
    // quarter of its height, the picture right and down by 13 % of its size.
    static QPoint LargeFontIconPos(const QRect& rcIcon);
    static QPoint LargeFontPicturePos(const QRect& rcPicture);

    // pos moved back just enough that a control of this size lies wholly inside the
    // client area (the nudge must never push a control past the window's edge).
    static QPoint KeepInside(const QPoint& pos, const QSize& size, const QSize& client);

    // Top-left corner of the program icon centred in a client area.
    static QPoint MinimisedIconPos(int nClientW, int nClientH, int nIconW, int nIconH);

    static QColor ToQColor(uint32_t cr);
    static uint32_t FromQColor(const QColor& c);

    // Palettes for the three kinds of colouring, each built on the palette a control
    // would have anyway: combo boxes (field and drop-down list) green on black, the
    // status fields red on black, and the window with its labels, group boxes and
    // check box in the scheme's text on the scheme's ground. Buttons keep their faces.
    static QPalette ComboPalette(const QPalette& base);
    static QPalette StatusPalette(const QPalette& base);
    static QPalette GroundPalette(const QPalette& base, const Colours& colours);
};
