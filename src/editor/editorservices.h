// What the scenario editor asks the outside world: message boxes, the image file dialog, the
// font dialog and the region picker. Tests replace them; an empty function means the real one.
#pragma once

#include "base/geometry.h"
#include "imaging/imagebuffer.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace vorn {

class Prompter;

// One pick of a rectangle on a picture. clampFlag 1 keeps the corners on the picture; 2 and 3
// leave them free. The picture is only borrowed for the call: the picker keeps its own copy.
struct RegionRequest {
    const ImageBuffer *picture = nullptr;
    int clampFlag = 1;
    Rect current;
    std::optional<Rect> reference;
};

struct EditorServices {
    // The editor's own messages ("エラー"); linking reports through the scenario's prompter.
    // Null: the scenario's prompter is used.
    Prompter *prompter = nullptr;
    // An existing image file; none when cancelled.
    std::function<std::optional<QString>(QWidget *parent)> chooseImageFile;
    // A font face, starting from `face`; none when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &face)> chooseFont;
    // The picked rectangle, normalised; none when cancelled.
    std::function<std::optional<Rect>(QWidget *parent, const RegionRequest &request)> pickRegion;
};

// The real dialogs, used where a service is empty.
std::optional<QString> chooseImageFileWithDialog(QWidget *parent);
std::optional<QString> chooseFontWithDialog(QWidget *parent, const QString &face);
std::optional<Rect> pickRegionWithDialog(QWidget *parent, const RegionRequest &request);

} // namespace vorn
