// The pages of the blocks that place, move or turn their inputs: STILL, ROTATE, ZOOM / SLIDE /
// FOCUS and MOSAIC (whose start and end rectangles work like the motion blocks').
#pragma once

#include "editor/inputlistpage.h"

namespace vorn {

class BlockInput;

// Frame 0 of an input, handed back to it when the object goes.
class RenderedFrame {
public:
    explicit RenderedFrame(BlockInput *input);
    ~RenderedFrame();
    RenderedFrame(const RenderedFrame &) = delete;
    RenderedFrame &operator=(const RenderedFrame &) = delete;
    const ImageBuffer *picture() const { return m_picture; }

private:
    BlockInput *m_input;
    ImageBuffer *m_picture = nullptr;
};

class CStillProp : public InputListPage {
    Q_OBJECT

public:
    CStillProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    void apply(Block &block) override;

    RectFields m_rect;
    QPushButton *m_pick = nullptr;
    QCheckBox *m_maxCut = nullptr;
    ColourFields m_bgColour;

protected:
    void showValues(const InputValues &values) override;
    void readValues(InputValues &values) const override;
    void clearValues() override;
    void enableValues(bool enabled) override;
    void writeValues(BlockInput &input, const InputValues &values) const override;
};

class CRotateProp : public CSceneVirtual {
    Q_OBJECT

public:
    CRotateProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override { return prepareInput(); }
    void apply(Block &block) override;

    RectFields m_rect;
    QPushButton *m_pick = nullptr;
    QLineEdit *m_centerX = nullptr;
    QLineEdit *m_centerY = nullptr;
    QLineEdit *m_angleStart = nullptr;
    QLineEdit *m_angleEnd = nullptr;
    ColourFields m_bgColour;
};

class CActionProp : public CSceneVirtual {
    Q_OBJECT

public:
    CActionProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    bool prepare() override { return prepareInput(); }
    void apply(Block &block) override;

    RectFields m_start;
    QPushButton *m_pickStart = nullptr;
    RectFields m_end;
    QPushButton *m_pickEnd = nullptr;
    ColourFields m_bgColour;
    QLineEdit *m_afterimage = nullptr;
    QCheckBox *m_keepAspect = nullptr;

private:
    void pick(bool start);
};

class CMosaicProp : public CSceneVirtual {
    Q_OBJECT

public:
    CMosaicProp(const EditorServices &services, QWidget *parent = nullptr);
    void load(Block *block) override;
    void apply(Block &block) override;

    RectFields m_start;
    QPushButton *m_pickStart = nullptr;
    RectFields m_end;
    QPushButton *m_pickEnd = nullptr;
    QLineEdit *m_sizeStart = nullptr;
    QLineEdit *m_sizeEnd = nullptr;

private:
    void pick(bool start);
};

} // namespace vorn
