// The tool-bar icons of the commands and the application icon, drawn as SVG in Qt resources.
#pragma once

#include <QIcon>
#include <QString>

namespace vorn {

// Registers the icon resources. They live in a static library, so the program must call this
// once (in main, after the QApplication is made) before any icon is used.
void initAppIcons();

// The resource path (":/icons/...svg") of a command's tool-bar icon; empty for a command
// without one. Commands: 32810 new, 32811 open, 32812 save, 32778 clipboard output, 32771 play,
// 32772 stop, 32773 pause, 32789 normal speed, 32786 half, 32790 quarter, 32794 zoom in, 32795
// zoom out, 32799 current position, 32813 renderer, 57664 about.
QString commandIconPath(int commandId);
// The icon at commandIconPath, or a null icon.
QIcon commandIcon(int commandId);

// Icon 128: the frame's large and small icon and the about box's picture.
QIcon appIcon();

} // namespace vorn
