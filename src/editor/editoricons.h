// The tree's block icons: one 16 x 16 SVG per icon index, in the editor's Qt resources.
#pragma once

#include <QIcon>
#include <QString>

#include <cstdint>

namespace vorn {

// Registers the editor's resources. They live in a static library, so the program calls this
// once (after the QApplication is made) before the tree shows a scenario.
void initEditorIcons();

inline constexpr int BlockIconCount = 19;

// The icon index of a kind code (MAIN shares SERIES's, ZOOM shares ACTION's); -1 for a code
// outside the table.
int blockIconIndex(int32_t kindCode);
// ":/editor/icons/NN-name.svg" for an index, empty outside 0 .. BlockIconCount - 1.
QString blockIconPath(int index);
// The icon of a kind code; a null icon outside the table.
QIcon blockIcon(int32_t kindCode);

} // namespace vorn
