// The input list shared by the STILL, MIX, SERIES/MAIN and CROSSFADE pages.
#include "editor/inputlistpage.h"

#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"

#include <QEvent>
#include <QFormLayout>
#include <QListWidget>
#include <QMouseEvent>

namespace vorn {

namespace {

// A click on the list's empty area means "no input": the list itself keeps its current row.
class EmptyClickFilter final : public QObject {
public:
    EmptyClickFilter(QListWidget *list, InputListPage *page) : QObject(list), m_list(list), m_page(page) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (!m_list->itemAt(mouse->position().toPoint())) {
                m_list->setCurrentRow(-1);
                m_page->selectInput(-1);
            }
        }
        return false;
    }

private:
    QListWidget *m_list;
    InputListPage *m_page;
};

} // namespace

InputListPage::InputListPage(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
}

void InputListPage::addInputList()
{
    m_list = new QListWidget;
    m_list->setAccessibleName(QStringLiteral("入力"));
    m_list->setFixedHeight(80);
    m_list->viewport()->installEventFilter(new EmptyClickFilter(m_list, this));
    form()->addRow(QStringLiteral("入力"), m_list);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row != m_row)
            selectInput(row);
    });
}

void InputListPage::load(Block *block)
{
    // Loading the same block again (after an apply) keeps the selected input.
    const int keep = block == m_block ? m_row : -1;
    CSceneVirtual::load(block);
    m_values.clear();
    m_row = -1;
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    if (block) {
        for (const auto &input : block->inputs) {
            m_list->addItem(QString::fromStdString(sjisToUtf8(input->nameOf())));
            m_values.push_back({input->rect, input->cutMode == MaxCut, input->offset,
                                input->linkVolumeAlpha});
        }
    }
    clearValues();
    enableValues(false);
    if (keep >= 0)
        selectInput(keep);
}

void InputListPage::selectInput(int row)
{
    if (m_row >= 0 && size_t(m_row) < m_values.size())
        readValues(m_values[size_t(m_row)]);
    m_row = (row >= 0 && size_t(row) < m_values.size()) ? row : -1;
    if (m_list->currentRow() != m_row) {
        const QSignalBlocker quiet(m_list);
        m_list->setCurrentRow(m_row);
    }
    if (m_row < 0) {
        clearValues();
        enableValues(false);
        return;
    }
    showValues(m_values[size_t(m_row)]);
    enableValues(true);
}

void InputListPage::apply(Block &block)
{
    CSceneVirtual::apply(block);
    if (m_row >= 0 && size_t(m_row) < m_values.size())
        readValues(m_values[size_t(m_row)]);
    for (size_t i = 0; i < m_values.size() && i < block.inputs.size(); ++i)
        writeValues(*block.inputs[i], m_values[i]);
}

} // namespace vorn
