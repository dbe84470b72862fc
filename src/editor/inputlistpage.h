// InputListPage: the pages with a list of inputs (STILL, MIX, SERIES/MAIN, CROSSFADE). Each row
// keeps the values typed for its input, so moving between rows loses nothing; apply writes them
// all, to the inputs at the same positions.
#pragma once

#include "editor/scenevirtual.h"

#include <vector>

class QListWidget;

namespace vorn {

struct InputValues {
    Rect rect;
    bool maxCut = false;      // STILL's "隙間なし"
    int32_t offset = 0;       // MIX's OFFSET
    bool volumeLink = false;  // MAIN's "ボリューム連携"
};

class InputListPage : public CSceneVirtual {
    Q_OBJECT

public:
    InputListPage(const EditorServices &services, QWidget *parent = nullptr);

    void load(Block *block) override;
    void apply(Block &block) override;

    QListWidget *inputList() const { return m_list; }
    // Selects a row as a click would; -1 is a click outside every row.
    void selectInput(int row);
    int selectedInput() const { return m_row; }

protected:
    void addInputList();
    // The page's per-input controls: show a row's values, read them back, enable them.
    virtual void showValues(const InputValues &values) { (void)values; }
    virtual void readValues(InputValues &values) const { (void)values; }
    virtual void clearValues() {}
    virtual void enableValues(bool enabled) { (void)enabled; }
    // Writes one row's values into its input.
    virtual void writeValues(BlockInput &input, const InputValues &values) const
    {
        (void)input;
        (void)values;
    }

    std::vector<InputValues> m_values;

private:
    QListWidget *m_list = nullptr;
    int m_row = -1;
};

} // namespace vorn
