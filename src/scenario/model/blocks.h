// Every block kind's class, and the copy that picks the class by the kind code.
#pragma once

#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/alpha.h"
#include "scenario/model/blocks/crossfade.h"
#include "scenario/model/blocks/cut.h"
#include "scenario/model/blocks/draw.h"
#include "scenario/model/blocks/expand.h"
#include "scenario/model/blocks/fade.h"
#include "scenario/model/blocks/film.h"
#include "scenario/model/blocks/image.h"
#include "scenario/model/blocks/mix.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/rotate.h"
#include "scenario/model/blocks/series.h"
#include "scenario/model/blocks/shade.h"
#include "scenario/model/blocks/shake.h"
#include "scenario/model/blocks/still.h"
#include "scenario/model/blocks/text.h"

#include <memory>

namespace vorn {

// A new block of the kind's default class (ACTION family and SERIES/MAIN with that kind);
// none for a kind outside the table.
std::unique_ptr<Block> createBlock(BlockKind kind);

// A copy made by the copy constructor of the class that `block`'s kind selects (MAIN by the
// SERIES class). None when the kind is outside the table or the object is not of that class.
std::unique_ptr<Block> copyBlock(const Block &block);

} // namespace vorn
