// IMAGE and TEXT pages.
#include "editor/sourcepages.h"

#include "imaging/imagefile.h"
#include "base/prompter.h"
#include "scenario/model/blocks/image.h"
#include "scenario/model/blocks/text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace vorn {

namespace {

QString display(const std::optional<SjisString> &bytes)
{
    return bytes ? QString::fromStdString(sjisToUtf8(*bytes)) : QString();
}

} // namespace

const std::array<int32_t, 8> &CImageProp::effectBits()
{
    static const std::array<int32_t, 8> bits = {
        ImageBlock::Sepia, ImageBlock::Mono,  ImageBlock::Discolor, ImageBlock::Highpass,
        ImageBlock::Nega,  ImageBlock::Red,   ImageBlock::Green,    ImageBlock::Blue};
    return bits;
}

CImageProp::CImageProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    m_file = addTextRow(QStringLiteral("ファイル名"), &m_browse);
    const std::vector<QCheckBox *> effects =
        addCheckGrid({QStringLiteral("セピア"), QStringLiteral("モノクロ"), QStringLiteral("減色"),
                      QStringLiteral("木版画"), QStringLiteral("ネガ"), QStringLiteral("赤"),
                      QStringLiteral("緑"), QStringLiteral("青")},
                     3);
    std::copy(effects.begin(), effects.end(), m_effects.begin());
    m_clip = addCheckRow(QStringLiteral("クリッピング"));
    m_clipRect = addRectRow(QStringLiteral("範囲"), &m_pickClip);
    m_photoFrame = addCheckRow(QStringLiteral("フォトフレーム"));
    m_percent = addNumberRow(QStringLiteral("枠の幅"));
    m_angle = addCheckRow(QStringLiteral("角度"));
    m_degrees = addNumberRow(QStringLiteral("角度(度)"));
    m_through = addCheckRow(QStringLiteral("透過色"));
    m_throughColour = addColourRow(QStringLiteral("透過色の値"), false);
    connect(m_browse, &QPushButton::clicked, this, &CImageProp::browse);
    connect(m_pickClip, &QPushButton::clicked, this, &CImageProp::pickClip);
}

void CImageProp::load(Block *block)
{
    CSceneVirtual::load(block);
    auto *image = dynamic_cast<ImageBlock *>(block);
    if (!image)
        return;
    m_file->setText(display(image->file));
    for (size_t i = 0; i < m_effects.size(); ++i)
        m_effects[i]->setChecked(image->options & effectBits()[i]);
    m_clip->setChecked(image->options & ImageBlock::Clip);
    m_clipRect.set(image->clip);
    m_photoFrame->setChecked(image->options & ImageBlock::PhotoFrame);
    setNumber(m_percent, image->photoFrame);
    m_angle->setChecked(image->options & ImageBlock::Angle);
    setNumber(m_degrees, image->angle);
    m_through->setChecked(image->options & ImageBlock::ThroughColor);
    m_throughColour.set(image->color);
}

bool CImageProp::prepare()
{
    if (m_file->text().isEmpty()) {
        m_fileBytes.reset();
        return true;
    }
    SjisString bytes;
    if (!encode(m_file->text(), QStringLiteral("ファイル名"), bytes))
        return false;
    m_fileBytes = bytes;
    return true;
}

void CImageProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *image = dynamic_cast<ImageBlock *>(&block);
    if (!image)
        return;
    image->file = m_fileBytes;
    int32_t options = 0;
    for (size_t i = 0; i < m_effects.size(); ++i)
        if (m_effects[i]->isChecked())
            options |= effectBits()[i];
    if (m_clip->isChecked()) {
        options |= ImageBlock::Clip;
        image->clip = m_clipRect.get();
    }
    if (m_photoFrame->isChecked()) {
        options |= ImageBlock::PhotoFrame;
        image->photoFrame = number(m_percent);
    }
    if (m_angle->isChecked()) {
        options |= ImageBlock::Angle;
        image->angle = number(m_degrees);
    }
    if (m_through->isChecked()) {
        options |= ImageBlock::ThroughColor;
        image->color = m_throughColour.get(image->color);
    }
    image->options = options;
}

void CImageProp::browse()
{
    const std::optional<QString> chosen = m_services.chooseImageFile
                                              ? m_services.chooseImageFile(this)
                                              : chooseImageFileWithDialog(this);
    if (chosen)
        m_file->setText(*chosen);
}

void CImageProp::pickClip()
{
    if (!m_block)
        return;
    const auto local = m_block->localFilePath();
    const ImagePtr picture = local ? LoadImageFile(*local) : nullptr;
    if (!picture) {
        if (Prompter *p = prompter())
            p->showError("ブロック " + m_block->displayName() +
                         " の画像ファイルを読み込めないため、範囲を選べません。");
        return;
    }
    RegionRequest request;
    request.picture = picture.get();
    request.clampFlag = 1;
    request.current = m_clipRect.get();
    if (const auto picked = pickRegion(request))
        m_clipRect.set(*picked);
}

CTextProp::CTextProp(const EditorServices &services, QWidget *parent)
    : CSceneVirtual(services, parent)
{
    addNameRow();
    m_width = addNumberRow(QStringLiteral("画像の幅"));
    m_height = addNumberRow(QStringLiteral("画像の高さ"));
    m_font = addTextRow(QStringLiteral("フォント名"), &m_chooseFont);
    m_charWidth = addNumberRow(QStringLiteral("文字の幅"));
    m_charHeight = addNumberRow(QStringLiteral("文字の高さ"));
    m_string = new QPlainTextEdit;
    m_string->setAccessibleName(QStringLiteral("文字列"));
    m_string->setFixedHeight(60);
    form()->addRow(QStringLiteral("文字列"), m_string);
    m_offset = addNumberRow(QStringLiteral("オフセット"));
    m_align = addRadioRow(QStringLiteral("横位置"), {{QStringLiteral("左"), TextBlock::AlignLeft},
                                                      {QStringLiteral("中央"), TextBlock::AlignCenter},
                                                      {QStringLiteral("右"), TextBlock::AlignRight}});
    m_valign = addRadioRow(QStringLiteral("縦位置"), {{QStringLiteral("上"), TextBlock::VAlignTop},
                                                       {QStringLiteral("中央"), TextBlock::VAlignCenter},
                                                       {QStringLiteral("下"), TextBlock::VAlignBottom}});
    m_colour = addColourRow(QStringLiteral("文字色"), true);
    connect(m_chooseFont, &QPushButton::clicked, this, &CTextProp::chooseFont);
}

void CTextProp::load(Block *block)
{
    CSceneVirtual::load(block);
    auto *text = dynamic_cast<TextBlock *>(block);
    if (!text)
        return;
    setNumber(m_width, text->size.width);
    setNumber(m_height, text->size.height);
    m_font->setText(display(text->font));
    setNumber(m_charWidth, text->fontWidth);
    setNumber(m_charHeight, text->fontHeight);
    // The block keeps its lines joined by CR LF; the box shows them one per line.
    m_string->setPlainText(display(text->string).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    setNumber(m_offset, text->frameOffset);
    checkOnly(m_align, text->align);
    checkOnly(m_valign, text->valign);
    m_colour.set(text->color);
}

bool CTextProp::prepare()
{
    SjisString bytes;
    if (m_font->text().isEmpty())
        m_fontBytes.reset();
    else if (!encode(m_font->text(), QStringLiteral("フォント名"), bytes))
        return false;
    else
        m_fontBytes = bytes;
    const QString string = m_string->toPlainText();
    if (string.isEmpty()) {
        m_stringBytes.reset();
        return true;
    }
    if (!encode(QString(string).replace(u'\n', QStringLiteral("\r\n")), QStringLiteral("文字列"), bytes))
        return false;
    m_stringBytes = bytes;
    return true;
}

void CTextProp::apply(Block &block)
{
    CSceneVirtual::apply(block);
    auto *text = dynamic_cast<TextBlock *>(&block);
    if (!text)
        return;
    text->size = {number(m_width), number(m_height)};
    text->font = m_fontBytes;
    text->fontWidth = number(m_charWidth);
    text->fontHeight = number(m_charHeight);
    text->string = m_stringBytes;
    text->frameOffset = number(m_offset);
    if (m_align->checkedId() != -1)
        text->align = m_align->checkedId();
    if (m_valign->checkedId() != -1)
        text->valign = m_valign->checkedId();
    text->color = m_colour.get(text->color);
}

void CTextProp::chooseFont()
{
    const std::optional<QString> face = m_services.chooseFont
                                            ? m_services.chooseFont(this, m_font->text())
                                            : chooseFontWithDialog(this, m_font->text());
    if (face)
        m_font->setText(*face);
}

} // namespace vorn
