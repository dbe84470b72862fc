// The pages of the source blocks: IMAGE (file, effects, clipping, frame, angle, through colour)
// and TEXT (size, font, string, alignment, colour).
#pragma once

#include "editor/scenevirtual.h"

#include <array>

class QPlainTextEdit;

namespace vorn {

class CImageProp : public CSceneVirtual {
    Q_OBJECT

public:
    CImageProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override;
    void apply(Block &block) override;

    // The effect check boxes in the order of effectBits().
    static const std::array<int32_t, 8> &effectBits();

    QLineEdit *m_file = nullptr;
    QPushButton *m_browse = nullptr;
    std::array<QCheckBox *, 8> m_effects{};
    QCheckBox *m_clip = nullptr;
    RectFields m_clipRect;
    QPushButton *m_pickClip = nullptr;
    QCheckBox *m_photoFrame = nullptr;
    QLineEdit *m_percent = nullptr;
    QCheckBox *m_angle = nullptr;
    QLineEdit *m_degrees = nullptr;
    QCheckBox *m_through = nullptr;
    ColourFields m_throughColour;

private:
    void browse();
    void pickClip();

    std::optional<SjisString> m_fileBytes;
};

class CTextProp : public CSceneVirtual {
    Q_OBJECT

public:
    CTextProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override;
    void apply(Block &block) override;

    QLineEdit *m_width = nullptr;
    QLineEdit *m_height = nullptr;
    QLineEdit *m_font = nullptr;
    QPushButton *m_chooseFont = nullptr;
    QLineEdit *m_charWidth = nullptr;
    QLineEdit *m_charHeight = nullptr;
    QPlainTextEdit *m_string = nullptr;
    QLineEdit *m_offset = nullptr;
    QButtonGroup *m_align = nullptr;
    QButtonGroup *m_valign = nullptr;
    ColourFields m_colour;

private:
    void chooseFont();

    std::optional<SjisString> m_fontBytes;
    std::optional<SjisString> m_stringBytes;
};

} // namespace vorn
