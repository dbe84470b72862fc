// The pages of the blocks that join inputs in time or alter every frame: CROSSFADE, FADE, MIX,
// SERIES / MAIN, CUT / ALPHA / SHADE, SHAKE / EXPAND, and the page of the kinds without one.
#pragma once

#include "editor/inputlistpage.h"

namespace vorn {

class CCrossFadeProp : public InputListPage {
    Q_OBJECT

public:
    CCrossFadeProp(const EditorServices &services, QWidget *parent = nullptr);
};

class CFadeProp : public CSceneVirtual {
    Q_OBJECT

public:
    CFadeProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override { return prepareInput(); }
    void apply(Block &block) override;

    QButtonGroup *m_mode = nullptr;
    ColourFields m_colour;
};

class CMixProp : public InputListPage {
    Q_OBJECT

public:
    CMixProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    void apply(Block &block) override;

    RectFields m_rect;
    QPushButton *m_pick = nullptr;
    QLineEdit *m_offset = nullptr;
    ColourFields m_bgColour;
    QCheckBox *m_or = nullptr;

protected:
    void showValues(const InputValues &values) override;
    void readValues(InputValues &values) const override;
    void clearValues() override;
    void enableValues(bool enabled) override;
    void writeValues(BlockInput &input, const InputValues &values) const override;
};

class CSeriesProp : public InputListPage {
    Q_OBJECT

public:
    CSeriesProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;

    QCheckBox *m_volumeLink = nullptr;

protected:
    void showValues(const InputValues &values) override;
    void readValues(InputValues &values) const override;
    void clearValues() override;
    void enableValues(bool enabled) override;
    void writeValues(BlockInput &input, const InputValues &values) const override;

private:
    bool m_main = false;
};

class CAlphaProp : public CSceneVirtual {
    Q_OBJECT

public:
    CAlphaProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override { return prepareInput(); }
    void apply(Block &block) override;

    QLabel *m_explanation = nullptr;
    QLineEdit *m_start = nullptr;
    QLineEdit *m_end = nullptr;
    QLineEdit *m_skip = nullptr;
};

class CExpandProp : public CSceneVirtual {
    Q_OBJECT

public:
    CExpandProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override { return prepareInput(); }
    void apply(Block &block) override;

    QButtonGroup *m_inOut = nullptr;
    QButtonGroup *m_direction = nullptr;
};

class CUnImplementedProp : public CSceneVirtual {
    Q_OBJECT

public:
    static const char *const Notice;

    CUnImplementedProp(const EditorServices &services, QWidget *parent = nullptr);
    QLabel *m_notice = nullptr;
};

} // namespace vorn
