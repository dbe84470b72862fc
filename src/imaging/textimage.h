// The picture of a TEXT block: text drawn with a font, shrunk to fit, coloured and placed.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <cstdint>
#include <string_view>

namespace vorn {

class Prompter;

// Alignment codes of DrawTextImage.
inline constexpr int32_t TEXT_ALIGN_CENTER = 1;
inline constexpr int32_t TEXT_ALIGN_RIGHT = 2;
inline constexpr int32_t TEXT_ALIGN_LEFT = 3;
inline constexpr int32_t TEXT_VALIGN_CENTER = 17;
inline constexpr int32_t TEXT_VALIGN_TOP = 18;
inline constexpr int32_t TEXT_VALIGN_BOTTOM = 19;

// Draws `text` (Shift-JIS bytes; CR LF, CR or LF start a new line) in the face `face`
// (Shift-JIS; the Windows Japanese face names map to IPAGothic, then VL Gothic) with a cell
// height of fontHeight pixels and an average character width of fontWidth (0: the face's own
// proportions). Text larger than the picture less `margin` on each side is shrunk by the
// tighter ratio, never enlarged. Lines are aligned (`align`) within the text's own block; the
// block is centred horizontally and placed vertically by `valign` (centre, `margin` from the
// top, or `margin` from the bottom). Every pixel gets `textColour`; alpha is the glyph
// coverage x textColour alpha / 255. Left of and above the text block the picture keeps
// `background` with its alpha.
// New width x height picture owned by the caller; none when the text cannot be measured or
// a drawing step fails (reported through `errors`, may be null). Needs a QGuiApplication
// (for fonts); may then run on any thread.
ImagePtr DrawTextImage(std::string_view text, int32_t width, int32_t height,
                       std::string_view face, int32_t fontWidth, int32_t fontHeight,
                       int32_t align, int32_t valign, int32_t margin, Colour textColour,
                       Colour background, Prompter *errors);

} // namespace vorn
