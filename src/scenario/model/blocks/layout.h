// Pieces of body lines shared by several block kinds (internal to the model library).
#pragma once

#include "base/geometry.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/linewriter.h"

#include <string>

namespace vorn::layout {

// "\tINPUT\t\t\"name\"" with the name the input reports; "\t!INPUT\t\t..." for a blank input, so
// that a saved scenario still shows nothing where the read one did (only kinds whose grammar
// has !INPUT can hold one).
inline std::string inputLine(const BlockInput &input)
{
    return (input.inputMode == InputBlank ? "\t!INPUT\t\t" : "\tINPUT\t\t") + inQuotes(input.nameOf());
}

// "\tl\tt\tr\tb"
inline std::string rectFields(const Rect &rect)
{
    return "\t" + num(rect.left) + "\t" + num(rect.top) + "\t" + num(rect.right) + "\t" +
           num(rect.bottom);
}

// "\tr\tg\tb"
inline std::string rgbFields(const Colour &colour)
{
    return "\t" + num(colour.red) + "\t" + num(colour.green) + "\t" + num(colour.blue);
}

// An input's rectangle fields, or nothing for an input that has none yet (an unlinked one):
// linking gives such an input the full screen again when the file is read back.
inline std::string inputRectFields(const BlockInput &input)
{
    return input.hasRect ? rectFields(input.rect) : std::string();
}

// The direction word of FILM and EXPAND; empty for a value outside 1, 2, 4, 8.
inline std::string directionLine(int32_t direction)
{
    switch (direction) {
    case DirectionUp:
        return "\tUP";
    case DirectionDown:
        return "\tDOWN";
    case DirectionLeft:
        return "\tLEFT";
    case DirectionRight:
        return "\tRIGHT";
    default:
        return {};
    }
}

} // namespace vorn::layout
