// DrawTextImage: text drawn with a Qt font on a black bitmap, shrunk to fit, coloured, placed.
#include "imaging/textimage.h"

#include "base/prompter.h"
#include "base/sjis.h"
#include "imaging/compose.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace vorn {
namespace {

constexpr const char *BitmapFailed = "ビットマップの作成に失敗しました。";
constexpr const char *FontFailed = "フォントの作成に失敗しました。";
constexpr const char *DrawFailed = "文字の描画に失敗しました。";
constexpr const char *ImageFailed = "画像の作成に失敗しました。";

// The cell height GDI picks when a font height of 0 is asked for.
constexpr int32_t DefaultCellHeight = 16;

void report(Prompter *errors, const char *message)
{
    if (errors)
        errors->showError(message);
}

// Scenarios name Windows faces. The Japanese ones do not exist here and fontconfig would hand
// out a Latin face without Japanese glyphs, so they map to the installed Japanese faces: the
// fixed-pitch ones to IPAGothic then VL Gothic, the proportional ones to their P variants.
const QStringList &fixedJapanese()
{
    static const QStringList faces{QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic")};
    return faces;
}

const QStringList &proportionalJapanese()
{
    static const QStringList faces{QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"),
                                   QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic")};
    return faces;
}

struct FaceAlias {
    const char *name;
    bool proportional;
};

constexpr FaceAlias JapaneseFaces[] = {
    {"ＭＳ ゴシック", false},  {"MS Gothic", false},     {"ＭＳ 明朝", false},
    {"MS Mincho", false},      {"ＭＳ Ｐゴシック", true}, {"MS PGothic", true},
    {"ＭＳ Ｐ明朝", true},     {"MS PMincho", true},     {"MS UI Gothic", true},
    {"メイリオ", true},        {"Meiryo", true},         {"Meiryo UI", true},
    {"ＭＳ ＵＩ ゴシック", true},
};

void installSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const FaceAlias &alias : JapaneseFaces)
            QFont::insertSubstitutions(QString::fromUtf8(alias.name),
                                       alias.proportional ? proportionalJapanese()
                                                          : fixedJapanese());
    });
}

QStringList familiesFor(const QString &face)
{
    for (const FaceAlias &alias : JapaneseFaces) {
        if (face == QString::fromUtf8(alias.name))
            return alias.proportional ? proportionalJapanese() : fixedJapanese();
    }
    // Any other face first, then Japanese faces for the characters it lacks.
    QStringList families{face};
    families.append(fixedJapanese());
    return families;
}

// A font asked for the way GDI's CreateFont is: `cellHeight` is the height of the character
// cell (ascent + descent, internal leading included), `averageWidth` the average character
// width (0: the face's own). Qt sizes fonts by the em instead. The face's ascent + descent at
// an em of h pixels is h x k (k = 1.076 for IPAGothic), so the em that gives a cell of h
// pixels is h x h / (ascent + descent). GDI's average width of these faces is the half-width
// advance, em / 2; Qt reaches a width w by a horizontal stretch of 100 x w / (em / 2) percent.
QFont makeFont(const QString &face, int64_t cellHeight, int64_t averageWidth)
{
    QFont font;
    font.setFamilies(familiesFor(face));
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias
                                               | QFont::NoSubpixelAntialias));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    // A negative height asks for the em itself, as in GDI; 0 for the default cell.
    int64_t em;
    if (cellHeight < 0) {
        em = -cellHeight;
    } else {
        const int64_t h = cellHeight > 0 ? cellHeight : DefaultCellHeight;
        font.setPixelSize(int(std::min<int64_t>(h, 1 << 20)));
        const QFontMetricsF probe(font);
        const double cell = probe.ascent() + probe.descent();
        em = cell > 0 ? int64_t(std::lround(double(h) * double(h) / cell)) : h;
    }
    em = std::clamp<int64_t>(em, 1, 1 << 20);
    font.setPixelSize(int(em));
    const int64_t width = averageWidth < 0 ? -averageWidth : averageWidth;
    if (width > 0) {
        const double stretch = 100.0 * double(width) / (double(em) / 2.0);
        font.setStretch(int(std::clamp<double>(std::lround(stretch), 1, 4000)));
    }
    return font;
}

// Splits at CR LF, lone CR and lone LF: each starts a new line.
QStringList splitLines(const QString &text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == u'\r' || ch == u'\n') {
            lines.append(current);
            current.clear();
            if (ch == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            current.append(ch);
        }
    }
    lines.append(current);
    return lines;
}

struct Extent {
    int64_t width = 0;
    int64_t height = 0;
};

// The rectangle the text needs: its widest line by the number of lines times the line
// height (ascent + descent, no extra leading), as GDI measures multi-line text.
Extent measure(const QFont &font, const QStringList &lines)
{
    const QFontMetrics metrics(font);
    Extent extent;
    for (const QString &line : lines)
        extent.width = std::max<int64_t>(extent.width, metrics.horizontalAdvance(line));
    extent.height = int64_t(lines.size()) * (metrics.ascent() + metrics.descent());
    return extent;
}

bool haveGuiApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

ImagePtr DrawTextImage(std::string_view text, int32_t width, int32_t height,
                       std::string_view face, int32_t fontWidth, int32_t fontHeight,
                       int32_t align, int32_t valign, int32_t margin, Colour textColour,
                       Colour background, Prompter *errors)
{
    if (width <= 0 || height <= 0 || int64_t(width) * height * 4 > MaxPlaneBytes) {
        report(errors, BitmapFailed);
        return nullptr;
    }
    QImage bitmap(width, height, QImage::Format_RGB32);
    if (bitmap.isNull()) {
        report(errors, BitmapFailed);
        return nullptr;
    }
    bitmap.fill(Qt::black);

    // Fonts need the GUI application's font database; without one measuring fails.
    if (!haveGuiApplication())
        return nullptr;
    installSubstitutions();
    const QString faceName = QString::fromStdString(sjisToUtf8(face));
    const QStringList lines = splitLines(QString::fromStdString(sjisToUtf8(text)));

    int64_t cellHeight = fontHeight == 0 ? DefaultCellHeight : fontHeight;
    int64_t averageWidth = fontWidth;
    const Extent first = measure(makeFont(faceName, cellHeight, averageWidth), lines);

    // Shrink to fit the room inside the margins by the tighter ratio; never enlarge.
    const int64_t roomW = int64_t(width) - 2 * int64_t(margin);
    const int64_t roomH = int64_t(height) - 2 * int64_t(margin);
    if (first.width > roomW || first.height > roomH) {
        if (roomW <= 0 || roomH <= 0) {
            cellHeight = 1;  // no room at all: the smallest font, clipped
            averageWidth = averageWidth != 0 ? 1 : 0;
        } else if (first.width * roomH <= first.height * roomW) {
            averageWidth = averageWidth * roomH / first.height;
            cellHeight = cellHeight * roomH / first.height;
        } else {
            averageWidth = averageWidth * roomW / first.width;
            cellHeight = cellHeight * roomW / first.width;
        }
        // A shrunk font keeps at least a pixel (0 would mean the default size).
        cellHeight = cellHeight == 0 ? 1 : cellHeight;
        if (fontWidth != 0 && averageWidth == 0)
            averageWidth = 1;
    }

    const QFont font = makeFont(faceName, cellHeight, averageWidth);
    const Extent box = measure(font, lines);
    {
        QPainter painter;
        if (!painter.begin(&bitmap)) {
            report(errors, DrawFailed);
            return nullptr;
        }
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const QFontMetrics metrics(font);
        const int lineHeight = metrics.ascent() + metrics.descent();
        // Lines are aligned within the text's own box at the top left of the bitmap.
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const int64_t lineWidth = metrics.horizontalAdvance(lines[i]);
            int64_t x = 0;
            if (align == TEXT_ALIGN_RIGHT)
                x = box.width - lineWidth;
            else if (align != TEXT_ALIGN_LEFT)
                x = (box.width - lineWidth) / 2;
            const int64_t baseline = int64_t(i) * lineHeight + metrics.ascent();
            if (baseline - metrics.ascent() >= height)
                break;
            painter.drawText(QPoint(int(x), int(baseline)), lines[i]);
        }
        painter.end();
    }
    const int64_t tw = box.width, th = box.height;

    // The text layer: everywhere the text colour, alpha from the drawn brightness.
    ImagePtr layer = CreateImage(width, height);
    if (!layer) {
        report(errors, ImageFailed);
        return nullptr;
    }
    for (int32_t y = 0; y < height; ++y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(bitmap.constScanLine(y));
        uint8_t *dst = layer->row(y);
        uint8_t *alpha = layer->alphaRow(y);
        for (int32_t x = 0; x < width; ++x) {
            dst[3 * x + 0] = textColour.blue;
            dst[3 * x + 1] = textColour.green;
            dst[3 * x + 2] = textColour.red;
            const uint32_t b = uint32_t(qBlue(src[x]));
            alpha[x] = b != 0 ? uint8_t(b * textColour.alpha / 255) : 0;
        }
    }

    ImagePtr result = CreateFilledImage(width, height, background.red, background.green,
                                        background.blue, background.alpha);
    if (!result) {
        report(errors, ImageFailed);
        return nullptr;
    }
    // The block of text is always centred horizontally; valign places it vertically.
    const int64_t x = (int64_t(width) - tw) / 2;
    int64_t y;
    if (valign == TEXT_VALIGN_CENTER)
        y = (int64_t(height) - th) / 2;
    else if (valign == TEXT_VALIGN_TOP)
        y = margin;
    else
        y = int64_t(height) - th - margin;
    DrawImage(*result, layer.get(), int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)),
              int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX)), BLEND_COPY);
    return result;
}

} // namespace vorn
