#include "app/Appearance.h"

#include <algorithm>
#include <cmath>

CAppearance::Colours CAppearance::StartColours(int bBackground, int nNumColors,
                                               uint32_t crButtonFace, uint32_t crSystemText)
{
    if (bBackground)
        return {nNumColors > 16 ? kPurpleDeep : kPurple16, kWhitePalette};
    return {crButtonFace, crSystemText};
}

CAppearance::Colours CAppearance::SwitchColours(int bBackground, int nNumColors,
                                                uint32_t crButtonFace, uint32_t crSystemText)
{
    if (bBackground)
        return {nNumColors > 16 ? kPurpleDeep : kPurple16Plain, kWhitePlain};
    return {crButtonFace, crSystemText};
}

int CAppearance::NumColorsForDepth(int nDepthBits)
{
    if (nDepthBits >= 24 || nDepthBits <= 0) return kTrueColour;
    return 1 << nDepthBits;
}

int CAppearance::SystemFontHeight(double fLogicalDpi, double fDevicePixelRatio)
{
    if (!(fLogicalDpi > 0)) fLogicalDpi = 96.0;
    if (!(fDevicePixelRatio > 0)) fDevicePixelRatio = 1.0;
    // The system font is 16 pixels high at 96 dpi and scales with the resolution;
    // rounding keeps 120 dpi (the classic large-font screen) at exactly 20.
    return static_cast<int>(std::lround(16.0 * fLogicalDpi * fDevicePixelRatio / 96.0));
}

int CAppearance::IsLargeFonts(double fLogicalDpi, double fDevicePixelRatio)
{
    return SystemFontHeight(fLogicalDpi, fDevicePixelRatio) >= 20 ? 1 : 0;
}

QPoint CAppearance::LargeFontIconPos(const QRect& rcIcon)
{
    return QPoint(rcIcon.left(), rcIcon.top() + static_cast<int>(0.25 * rcIcon.height()));
}

QPoint CAppearance::LargeFontPicturePos(const QRect& rcPicture)
{
    const float f = 0.13f;
    return QPoint(rcPicture.left() + static_cast<int>(f * rcPicture.width()),
                  rcPicture.top() + static_cast<int>(f * rcPicture.height()));
}

QPoint CAppearance::KeepInside(const QPoint& pos, const QSize& size, const QSize& client)
{
    return QPoint(std::max(0, std::min(pos.x(), client.width() - size.width())),
                  std::max(0, std::min(pos.y(), client.height() - size.height())));
}

QPoint CAppearance::MinimisedIconPos(int nClientW, int nClientH, int nIconW, int nIconH)
{
    return QPoint((nClientW - nIconW + 1) / 2, (nClientH - nIconH + 1) / 2);
}

QColor CAppearance::ToQColor(uint32_t cr)
{
    return QColor(cr & 0xFF, (cr >> 8) & 0xFF, (cr >> 16) & 0xFF);
}

uint32_t CAppearance::FromQColor(const QColor& c)
{
    return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
           (static_cast<uint32_t>(c.blue()) << 16);
}

QPalette CAppearance::ComboPalette(const QPalette& base)
{
    QPalette pal(base);
    const QColor green = ToQColor(kComboText);
    const QColor black = ToQColor(kBlack);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Button, black);
        pal.setColor(g, QPalette::ButtonText, green);
        pal.setColor(g, QPalette::Base, black);
        pal.setColor(g, QPalette::Text, green);
        pal.setColor(g, QPalette::Window, black);
        pal.setColor(g, QPalette::WindowText, green);
        pal.setColor(g, QPalette::HighlightedText, black);
        pal.setColor(g, QPalette::Highlight, green);
    }
    // A disabled combo box (during a recording) stays black with a dimmed green.
    pal.setColor(QPalette::Disabled, QPalette::Button, black);
    pal.setColor(QPalette::Disabled, QPalette::Base, black);
    pal.setColor(QPalette::Disabled, QPalette::Window, black);
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, green.darker(170));
    pal.setColor(QPalette::Disabled, QPalette::Text, green.darker(170));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, green.darker(170));
    return pal;
}

QPalette CAppearance::StatusPalette(const QPalette& base)
{
    QPalette pal(base);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Window, ToQColor(kBlack));
        pal.setColor(g, QPalette::WindowText, ToQColor(kStatusText));
    }
    return pal;
}

QPalette CAppearance::GroundPalette(const QPalette& base, const Colours& colours)
{
    QPalette pal(base);
    const QColor ground = ToQColor(colours.crBackground);
    const QColor text = ToQColor(colours.crText);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Window, ground);
        pal.setColor(g, QPalette::WindowText, text);
    }
    pal.setColor(QPalette::Disabled, QPalette::Window, ground);
    return pal;
}
