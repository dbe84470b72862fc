// Block grammar tests: every kind's once-rules, bounds, closing checks and messages (exact, with
// their line), and what keywords set beyond the written lines, read through the reader as users
// reach it.
#include "base/prompter.h"
#include "base/sjis.h"
#include "imaging/shapes.h"
#include "scenario/model/blocks.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"
#include "scenario/reader/readertest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vorn;

namespace {

using test::RecordingPrompter;

constexpr const char *DisplayName = "grammar.txt";

// The error text as the reader composes it for this test's texts.
std::string composed(int line, std::string_view message)
{
    return test::readingError(DisplayName, line, message);
}

struct Read {
    Scenario scenario;
    RecordingPrompter prompter;
    int32_t result = 0;

    explicit Read(std::string_view text, int32_t screenWidth = 640, int32_t screenHeight = 480)
    {
        prompter.answer = false;
        scenario.prompter = &prompter;
        scenario.screenWidth = screenWidth;
        scenario.screenHeight = screenHeight;
        result = loadText(scenario, SourceText(std::string(text), std::nullopt, DisplayName));
    }

    template <typename T>
    T &block(size_t index)
    {
        EXPECT_LT(index, scenario.blocks.size());
        auto *typed = dynamic_cast<T *>(scenario.blocks.at(index).get());
        EXPECT_NE(typed, nullptr);
        return *typed;
    }
};

// One failing text per row: the single message it must give, and its line.
struct ErrorCase {
    const char *name;
    std::string text;
    int line;
    std::string message;
};

std::ostream &operator<<(std::ostream &out, const ErrorCase &row)
{
    return out << row.name;
}

class GrammarErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(GrammarErrors, reportsOnceWithLine)
{
    const ErrorCase &row = GetParam();
    Read read(row.text);
    EXPECT_EQ(read.result, -1);
    ASSERT_EQ(read.prompter.errors.size(), 1u);
    EXPECT_EQ(read.prompter.errors[0], composed(row.line, row.message));
}

std::string rowName(const ::testing::TestParamInfo<ErrorCase> &info)
{
    return info.param.name;
}

// Sources: IMAGE, TEXT, DRAW and its shapes.
const ErrorCase SourceRows[] = {
    {"image_file_then_block_frame", "IMAGE \"a\" {\nFILE \"x.bmp\"\nBLOCK_FRAME \"b\" 0\n}\n", 3,
     "IMAGE ブロックに複数の FILE または BLOCK_FRAME が定義されています。"},
    {"image_file_twice", "IMAGE \"a\" {\nFILE \"x.bmp\"\nFILE \"y.bmp\"\n}\n", 3,
     "IMAGE ブロックに複数の FILE または BLOCK_FRAME が定義されています。"},
    {"image_clip_reversed", "IMAGE \"a\" {\nFILE \"x\"\nCLIP 100 0 50 10\n}\n", 3,
     "IMAGE ブロックの CLIP 指定子の座標値が不正です。"},
    {"image_clip_negative", "IMAGE \"a\" {\nFILE \"x\"\nCLIP 0 -1 50 10\n}\n", 3,
     "クリップ座標の下限値を超えています。"},
    {"image_photo_frame_101", "IMAGE \"a\" {\nFILE \"x\"\n\nPHOTO_FRAME 101\n}\n", 4,
     "フォトフレーム幅の上限値を超えています。"},
    {"image_block_frame_negative", "IMAGE \"a\" {\nBLOCK_FRAME \"b\" -1\n}\n", 2,
     "フレーム番号の下限値を超えています。"},
    {"image_through_color_256", "IMAGE \"a\" {\nTHROUGH_COLOR 0 0 256\n}\n", 2,
     "青の輝度の上限値を超えています。"},
    {"image_no_source", "IMAGE \"a\" {\nSEPIA\n}\n", 3,
     "IMAGE ブロックに FILE または BLOCK_FRAME が定義されていません。"},
    {"image_unknown_keyword", "IMAGE \"a\" {\nFILE \"x\"\nBLUR\n}\n", 3,
     "IMAGE ブロック内では、BLUR の記述はできません。"},
    {"image_lowercase_keyword", "IMAGE \"a\" {\nfile \"x\"\n}\n", 2,
     "IMAGE ブロック内では、file の記述はできません。"},
    {"image_missing_brace", "IMAGE \"a\"\nFILE \"x\"\n}\n", 2, "不正な記述があります。"},
    {"image_name_unquoted", "IMAGE a {\n}\n", 1,
     "ブロック名は正しくダブルクォーテーション(\")で括って下さい。"},
    {"image_only_blanks_left", "IMAGE \"a\" {\nFILE \"x\"\n  \n", 4, "不明なエラーが発生しました。"},
    {"text_file_twice", "TEXT \"t\" {\nFILE \"a.jpg\"\nFILE \"b.jpg\"\n}\n", 3,
     "TEXT ブロックに複数の FILE が定義されています。"},
    {"text_size_twice", "TEXT \"t\" {\nSIZE 10 10\nSIZE 20 20\n}\n", 3,
     "TEXT ブロックに、複数の SIZE が定義されています。"},
    {"text_size_negative", "TEXT \"t\" {\nSIZE -1 10\n}\n", 2, "幅の下限値を超えています。"},
    {"text_no_size", "TEXT \"t\" {\nSTRING \"a\"\n}\n", 3, "TEXT ブロックに、SIZE が定義されていません。"},
    {"text_no_string", "TEXT \"t\" {\nSIZE 10 10\n}\n", 3, "TEXT ブロックに、STRING が定義されていません。"},
    {"text_align_middle", "TEXT \"t\" {\nALIGN MIDDLE\n}\n", 2,
     "ALIGNオプションでは、MIDDLE の記述はできません。"},
    {"text_valign_left", "TEXT \"t\" {\nVALIGN LEFT\n}\n", 2,
     "VALIGNオプションでは、LEFT の記述はできません。"},
    {"text_alpha_256", "TEXT \"t\" {\nCOLOR 1 2 3 256\n}\n", 2, "α値の上限値を超えています。"},
    {"text_font_height_negative", "TEXT \"t\" {\nFONT \"f\" 1 -2\n}\n", 2,
     "フォント高の下限値を超えています。"},
    {"text_frame_offset_negative", "TEXT \"t\" {\nFRAME_OFFSET -5\n}\n", 2,
     "オフセットの下限値を超えています。"},
    {"text_unknown_keyword", "TEXT \"t\" {\nWIDTH 3\n}\n", 2, "TEXT ブロック内では、WIDTH の記述はできません。"},
    {"draw_size_zero", "DRAW \"d\" {\nSIZE 0 10\n}\n", 2, "幅の下限値を超えています。"},
    {"draw_height_zero", "DRAW \"d\" {\nSIZE 10 0\n}\n", 2, "高さの下限値を超えています。"},
    {"draw_size_twice", "DRAW \"d\" {\nSIZE 1 1\nSIZE 1 1\n}\n", 3,
     "DRAW ブロックに、複数の SIZE が定義されています。"},
    {"draw_no_size", "DRAW \"d\" {\nCOLOR 1 2 3 4\n}\n", 3, "DRAW ブロックに、SIZE が定義されていません。"},
    {"draw_unknown_keyword", "DRAW \"d\" {\nCIRCLE {\n}\n}\n", 2,
     "DRAW ブロック内では、CIRCLE の記述はできません。"},
    {"line_one_point", "DRAW \"d\" {\nSIZE 9 9\nLINE {\nPOINT 1 1\n}\n}\n", 5,
     "LINE ブロックの、POINT が定義が少なすぎます。"},
    {"line_width_zero", "DRAW \"d\" {\nLINE {\nWIDTH 0\n}\n}\n", 3, "線幅の下限値を超えています。"},
    {"line_fill", "DRAW \"d\" {\nLINE {\nFILL\n}\n}\n", 3, "LINE ブロック内では、FILL の記述はできません。"},
    {"line_point_not_number", "DRAW \"d\" {\nLINE {\nPOINT 1 y\n}\n}\n", 3, "Y座標を正しく記述してください。"},
    {"rect_one_point", "DRAW \"d\" {\nRECT {\nPOINT 1 1\n}\n}\n", 4,
     "RECT ブロックの、POINT が定義が少なすぎます。"},
    {"rect_three_points", "DRAW \"d\" {\nRECT {\nPOINT 1 1\nPOINT 2 2\nPOINT 3 3\n}\n}\n", 6,
     "RECT ブロックの、POINT が定義が多すぎます。"},
    {"rect_unknown_keyword", "DRAW \"d\" {\nRECT {\nANGLE 3\n}\n}\n", 3,
     "RECT ブロック内では、ANGLE の記述はできません。"},
    {"polygon_two_points", "DRAW \"d\" {\nPOLYGON {\nPOINT 1 1\nPOINT 2 2\nFILL\n}\n}\n", 6,
     "POLYGON ブロックの、POINT が定義が少なすぎます。"},
    {"polygon_unknown_keyword", "DRAW \"d\" {\nPOLYGON {\nREGION 1 2 3 4\n}\n}\n", 3,
     "POLYGON ブロック内では、REGION の記述はできません。"},
    {"ellipse_no_region", "DRAW \"d\" {\nELLIPSE {\nFILL\n}\n}\n", 4,
     "ELLIPSE ブロックの、REGION 定義がありません。"},
    {"ellipse_unknown_keyword", "DRAW \"d\" {\nELLIPSE {\nPOINT 1 2\n}\n}\n", 3,
     "ELLIPSE ブロック内では、POINT の記述はできません。"},
    {"ellipse_region_not_number", "DRAW \"d\" {\nELLIPSE {\nREGION 1 2 3 x\n}\n}\n", 3,
     "領域を正しく記述してください。"},
    {"shape_missing_brace", "DRAW \"d\" {\nLINE\nPOINT 1 1\n}\n", 3, "不正な記述があります。"},
};
INSTANTIATE_TEST_SUITE_P(Sources, GrammarErrors, ::testing::ValuesIn(SourceRows), rowName);

// Motion: STILL, ROTATE, the ACTION family, FILM.
const ErrorCase MotionRows[] = {
    {"still_max_cut_before_input", "STILL \"s\" {\nMAX_CUT\n}\n", 2,
     "STILL ブロック内では、MAX_CUT の記述はできません。"},
    {"still_frames_twice", "STILL \"s\" {\nFRAMES 1\nFRAMES 2\n}\n", 3,
     "STILL ブロックに、複数の FRAMES が定義されています。"},
    {"still_frames_zero", "STILL \"s\" {\nFRAMES 0\n}\n", 2, "フレーム数の下限値を超えています。"},
    {"still_no_input", "STILL \"s\" {\nFRAMES 1\n}\n", 3, "STILL ブロックに、INPUT が定義されていません。"},
    {"still_no_frames", "STILL \"s\" {\nINPUT \"a\"\n}\n", 3, "STILL ブロックに、FRAMES が定義されていません。"},
    {"still_rect_reversed", "STILL \"s\" {\nINPUT \"a\"\n  10 0 5 5\n}\n", 3,
     "STILL ブロックの INPUT 指定子の座標値が不正です。"},
    {"still_rect_bad_value", "STILL \"s\" {\nINPUT \"a\" 0 0 5 z\n}\n", 2, "クリップ座標を正しく記述してください。"},
    {"still_bgcolor_negative", "STILL \"s\" {\nBGCOLOR 0 -1 0\n}\n", 2, "緑の輝度の下限値を超えています。"},
    {"rotate_frames_one", "ROTATE \"r\" {\nFRAMES 1\n}\n", 2, "フレーム数の下限値を超えています。"},
    {"rotate_frames_twice", "ROTATE \"r\" {\nFRAMES 2\nFRAMES 2\n}\n", 3,
     "ROTATE ブロックに、複数の FRAMES が定義されています。"},
    {"rotate_bgimage_twice", "ROTATE \"r\" {\nBGIMAGE \"a\"\nBGIMAGE \"b\"\n}\n", 3,
     "ROTATE ブロックに、複数の BGIMAGE が定義されています。"},
    {"rotate_no_input", "ROTATE \"r\" {\nFRAMES 2\n}\n", 3, "ROTATE ブロックに、INPUT が定義されていません。"},
    {"rotate_no_frames", "ROTATE \"r\" {\nINPUT \"a\"\n}\n", 3, "ROTATE ブロックに、FRAMES が定義されていません。"},
    {"rotate_rect_reversed", "ROTATE \"r\" {\nINPUT \"a\" 0 9 5 5\n}\n", 2,
     "ROTATE ブロックの INPUT 指定子の座標値が不正です。"},
    {"rotate_center_bad", "ROTATE \"r\" {\nCENTER 1 x\n}\n", 2, "回転中心座標を正しく記述してください。"},
    {"rotate_angle_bad", "ROTATE \"r\" {\nANGLE 0 x\n}\n", 2, "終了角度を正しく記述してください。"},
    {"rotate_unknown_keyword", "ROTATE \"r\" {\nMAX_CUT\n}\n", 2, "ROTATE ブロック内では、MAX_CUT の記述はできません。"},
    {"slide_src_start", "SLIDE \"s\" {\nSRC_START 0 0 1 1\n}\n", 2,
     "SLIDEブロック内では、SRC_START の記述はできません。"},
    {"slide_src_end", "SLIDE \"s\" {\nSRC_END x\n}\n", 2, "SLIDEブロック内では、SRC_END の記述はできません。"},
    {"zoom_dsp_end", "ZOOM \"z\" {\nDSP_END 0 0 1 1\n}\n", 2, "ZOOMブロック内では、DSP_END の記述はできません。"},
    {"zoom_dst_start", "ZOOM \"z\" {\nDST_START 0 0 1 1\n}\n", 2,
     "ZOOMブロック内では、DST_START の記述はできません。"},
    {"focus_dst_end", "FOCUS \"f\" {\nDST_END 0 0 1 1\n}\n", 2, "FOCUSブロック内では、DST_END の記述はできません。"},
    {"focus_src_start", "FOCUS \"f\" {\nSRC_START 0 0 1 1\n}\n", 2,
     "FOCUSブロック内では、SRC_START の記述はできません。"},
    {"slide_dsp_start", "SLIDE \"s\" {\nDSP_START 0 0 1 1\n}\n", 2,
     "SLIDEブロック内では、DSP_START の記述はできません。"},
    {"focus_afterimage", "FOCUS \"f\" {\nAFTERIMAGE 1\n}\n", 2, "FOCUSブロック内では、AFTERIMAGE の記述はできません。"},
    {"zoom_frames_one", "ZOOM \"z\" {\nFRAMES 1\n}\n", 2, "フレーム数の下限値を超えています。"},
    {"action_input_twice", "ACTION \"a\" {\nINPUT \"x\"\nINPUT \"y\"\n}\n", 3,
     "ACTION ブロックに、複数の INPUT が定義されています。"},
    {"slide_bgimage_twice", "SLIDE \"s\" {\nBGIMAGE \"x\"\nBGIMAGE \"y\"\n}\n", 3,
     "SLIDE ブロックに、複数の BGIMAGE が定義されています。"},
    {"focus_frames_twice", "FOCUS \"f\" {\nFRAMES 2\nFRAMES 3\n}\n", 3,
     "FOCUS ブロックに、複数の FRAMES が定義されています。"},
    {"action_src_end_reversed", "ACTION \"a\" {\nSRC_END 0 5 1 4\n}\n", 2,
     "ACTION ブロックの SRC_END 指定子の座標値が不正です。"},
    {"action_dsp_start_reversed", "ACTION \"a\" {\nDSP_START 5 0 4 1\n}\n", 2,
     "ACTION ブロックの DSP_START 指定子の座標値が不正です。"},
    {"zoom_src_start_label", "ZOOM \"z\" {\nSRC_START 0 0 q 1\n}\n", 2, "転送元開始座標を正しく記述してください。"},
    {"action_afterimage_negative", "ACTION \"a\" {\nAFTERIMAGE -1\n}\n", 2, "残像の長さの下限値を超えています。"},
    {"zoom_no_input", "ZOOM \"z\" {\nFRAMES 2\n}\n", 3, "ZOOM ブロックに、INPUT が定義されていません。"},
    {"action_no_frames", "ACTION \"a\" {\nINPUT \"x\"\n}\n", 3, "ACTION ブロックに、FRAMES が定義されていません。"},
    {"slide_unknown_keyword", "SLIDE \"s\" {\nMAX_CUT\n}\n", 2, "SLIDE ブロック内では、MAX_CUT の記述はできません。"},
    {"film_two_directions", "FILM \"f\" {\nUP\nLEFT\n}\n", 3,
     "FILM ブロックに、複数の ( UP | DOWN | LEFT | RIGHT ) が定義されています。"},
    {"film_frames_twice", "FILM \"f\" {\nFRAMES 2\nFRAMES 2\n}\n", 3,
     "FILM ブロックに、複数の FRAMES が定義されています。"},
    {"film_frames_one", "FILM \"f\" {\nFRAMES 1\n}\n", 2, "フレーム数の下限値を超えています。"},
    {"film_one_input", "FILM \"f\" {\nINPUT \"a\"\nFRAMES 2\nUP\n}\n", 5,
     "FILM ブロックには、２つ以上の INPUT を定義して下さい。"},
    {"film_no_frames", "FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nUP\n}\n", 5,
     "FILM ブロックに、FRAMES が定義されていません。"},
    {"film_no_direction", "FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nFRAMES 2\n}\n", 5,
     "FILM ブロックに、DIRECTION が定義されていません。"},
    {"film_color_256", "FILM \"f\" {\nCOLOR 256 0 0\n}\n", 2, "赤の輝度の上限値を超えています。"},
    {"film_unknown_keyword", "FILM \"f\" {\n!INPUT \"a\"\n}\n", 2, "FILM ブロック内では、!INPUT の記述はできません。"},
};
INSTANTIATE_TEST_SUITE_P(Motion, GrammarErrors, ::testing::ValuesIn(MotionRows), rowName);

// Effects and sequences: FADE ... SHADE, MAIN, and CHECKPOINT.
const ErrorCase EffectRows[] = {
    {"fade_input_twice", "FADE \"f\" {\nINPUT \"a\"\nINPUT \"b\"\n}\n", 3,
     "FADE ブロックに、複数の INPUT が定義されています。"},
    {"fade_two_modes", "FADE \"f\" {\nIN\nINOUT\n}\n", 3,
     "FADE ブロックに、複数の ( IN | OUT | INOUT ) が定義されています。"},
    {"fadein_two_modes", "FADEIN \"f\" {\nOUT\nIN\n}\n", 3,
     "FADE ブロックに、複数の ( IN | OUT | INOUT ) が定義されています。"},
    {"fade_frames_twice", "FADEOUT \"f\" {\nFRAMES 2\nFRAMES 3\n}\n", 3,
     "FADE ブロックに、複数の FRAMES が定義されています。"},
    {"fade_no_input", "FADE \"f\" {\nFRAMES 2\n}\n", 3, "FADE ブロックに、INPUT が定義されていません。"},
    {"fade_no_frames", "FADEINOUT \"f\" {\nINPUT \"a\"\n}\n", 3, "FADE ブロックに、FRAMES が定義されていません。"},
    {"fade_unknown_keyword", "FADEOUT \"f\" {\n!INPUT \"a\"\n}\n", 2, "FADE ブロック内では、!INPUT の記述はできません。"},
    {"crossfade_one_input", "CROSSFADE \"c\" {\nINPUT \"a\"\nFRAMES 2\n}\n", 4,
     "CROSSFADE ブロックには、２つ以上の INPUT を定義して下さい。"},
    {"crossfade_frames_twice", "CROSSFADE \"c\" {\nFRAMES 2\nFRAMES 2\n}\n", 3,
     "CROSSFADE ブロックに、複数の FRAMES が定義されています。"},
    {"crossfade_no_frames", "CROSSFADE \"c\" {\nINPUT \"a\"\nINPUT \"b\"\n}\n", 4,
     "CROSSFADE ブロックに、FRAMES が定義されていません。"},
    {"crossfade_unknown_keyword", "CROSSFADE \"c\" {\nBGCOLOR 0 0 0\n}\n", 2,
     "CROSSFADE ブロック内では、BGCOLOR の記述はできません。"},
    {"mix_offset_twice", "MIX \"m\" {\nINPUT \"a\"\nOFFSET 1\nOFFSET 2\n}\n", 4,
     "MIX ブロックに、不正な OFFSET が定義されています。"},
    {"mix_offset_after_bgcolor", "MIX \"m\" {\nINPUT \"a\"\nBGCOLOR 0 0 0\nOFFSET 2\n}\n", 4,
     "MIX ブロックに、不正な OFFSET が定義されています。"},
    {"mix_offset_after_bgimage", "MIX \"m\" {\nINPUT \"a\"\nBGIMAGE \"b\"\nOFFSET 2\n}\n", 4,
     "MIX ブロックに、不正な OFFSET が定義されています。"},
    {"mix_offset_before_input", "MIX \"m\" {\nOFFSET 2\n}\n", 2, "MIX ブロックに、不正な OFFSET が定義されています。"},
    {"mix_offset_negative", "MIX \"m\" {\nINPUT \"a\"\nOFFSET -2\n}\n", 3, "オフセットの下限値を超えています。"},
    {"mix_bgimage_twice", "MIX \"m\" {\nBGIMAGE \"a\"\nBGIMAGE \"b\"\n}\n", 3,
     "MIX ブロックに、複数の BGIMAGE が定義されています。"},
    {"mix_no_input", "MIX \"m\" {\nOR\n}\n", 3, "MIX ブロックに、INPUT が定義されていません。"},
    {"mix_rect_reversed", "MIX \"m\" {\nINPUT \"a\" 0 0 5 -5\n}\n", 2, "MIX ブロックの INPUT 指定子の座標値が不正です。"},
    {"mix_frames", "MIX \"m\" {\nFRAMES 5\n}\n", 2, "MIX ブロック内では、FRAMES の記述はできません。"},
    {"series_alink", "SERIES \"s\" {\nINPUT \"a\"\nALINK_VOLUME_ALPHA\n}\n", 3,
     "SERIES ブロック内では、ALINK_VOLUME_ALPHA の記述はできません。"},
    {"main_alink_before_input", "MAIN {\nALINK_VOLUME_ALPHA\n}\n", 2,
     "MAIN ブロック内では、ALINK_VOLUME_ALPHA の記述はできません。"},
    {"series_no_input", "SERIES \"s\" {\n}\n", 2, "SERIES ブロックに、INPUT が定義されていません。"},
    {"main_unknown_keyword", "MAIN {\nFRAMES 3\n}\n", 2, "MAIN ブロック内では、FRAMES の記述はできません。"},
    {"main_with_name", "MAIN \"m\" {\n}\n", 1, "不正な記述があります。"},
    {"main_twice", "MAIN {\n}\nMAIN {\n}\n", 4, "複数のMAINブロックが定義されています。"},
    {"shake_input_twice", "SHAKE \"s\" {\n!INPUT \"a\"\nINPUT \"b\"\n}\n", 3,
     "SHAKE ブロックに、複数の INPUT が定義されています。"},
    {"shake_no_input", "SHAKE \"s\" {\n}\n", 2, "SHAKE ブロックに、INPUT が定義されていません。"},
    {"shake_unknown_keyword", "SHAKE \"s\" {\nFRAMES 2\n}\n", 2, "SHAKE ブロック内では、FRAMES の記述はできません。"},
    {"mosaic_input_twice", "MOSAIC \"m\" {\nINPUT \"a\"\n!INPUT \"b\"\n}\n", 3,
     "MOSAIC ブロックに、複数の INPUT が定義されています。"},
    {"mosaic_size_start_twice", "MOSAIC \"m\" {\nSIZE_START 1\nSIZE_START 2\n}\n", 3,
     "MOSAIC ブロックに、複数の SIZE_START が定義されています。"},
    {"mosaic_second_size_start_bad", "MOSAIC \"m\" {\nSIZE_START 1\nSIZE_START -2\n}\n", 3,
     "開始ブロックサイズの下限値を超えています。"},
    {"mosaic_size_end_twice", "MOSAIC \"m\" {\nSIZE_END 1\nSIZE_END 2\n}\n", 3,
     "MOSAIC ブロックに、複数の SIZE_END が定義されています。"},
    {"mosaic_size_end_negative", "MOSAIC \"m\" {\nSIZE_END -1\n}\n", 2, "終了ブロックサイズの下限値を超えています。"},
    {"mosaic_tgt_start_reversed", "MOSAIC \"m\" {\nTGT_START 5 0 4 0\n}\n", 2,
     "MOSAIC ブロックの TGT_START 指定子の座標値が不正です。"},
    {"mosaic_tgt_end_reversed", "MOSAIC \"m\" {\nTGT_END 0 5 0 4\n}\n", 2,
     "MOSAIC ブロックの TGT_END 指定子の座標値が不正です。"},
    {"mosaic_tgt_end_label", "MOSAIC \"m\" {\nTGT_END 0 0 x 4\n}\n", 2, "終了座標を正しく記述してください。"},
    {"mosaic_tgt_start_label", "MOSAIC \"m\" {\nTGT_START 0 0 x 4\n}\n", 2, "開始座標を正しく記述してください。"},
    {"mosaic_no_input", "MOSAIC \"m\" {\nSIZE_START 1\nSIZE_END 1\n}\n", 4,
     "MOSAIC ブロックに、INPUT が定義されていません。"},
    {"mosaic_no_size_start", "MOSAIC \"m\" {\nINPUT \"a\"\nSIZE_END 1\n}\n", 4,
     "MOSAIC ブロックに、SIZE_START が定義されていません。"},
    {"mosaic_no_size_end", "MOSAIC \"m\" {\nINPUT \"a\"\nSIZE_START 1\n}\n", 4,
     "MOSAIC ブロックに、SIZE_End が定義されていません。"},
    {"mosaic_unknown_keyword", "MOSAIC \"m\" {\nSIZE 1\n}\n", 2, "MOSAIC ブロック内では、SIZE の記述はできません。"},
    {"expand_input_twice", "EXPAND \"e\" {\nINPUT \"a\"\nINPUT \"a\"\n}\n", 3,
     "EXPAND ブロックに、複数の INPUT が定義されています。"},
    {"expand_two_modes", "EXPANDIN \"e\" {\nIN\nOUT\n}\n", 3, "EXPAND ブロックに、複数の ( IN | OUT ) が定義されています。"},
    {"expand_two_directions", "EXPAND \"e\" {\nDOWN\nDOWN\n}\n", 3,
     "EXPAND ブロックに、複数の ( UP | DOWN | LEFT | RIGHT ) が定義されています。"},
    {"expand_no_input", "EXPAND \"e\" {\nUP\n}\n", 3, "EXPAND ブロックに、INPUT が定義されていません。"},
    {"expand_no_direction", "EXPANDOUT \"e\" {\nINPUT \"a\"\n}\n", 3,
     "EXPAND ブロックに、( UP | DOWN | LEFT | RIGHT ) が定義されていません。"},
    {"expand_inout", "EXPAND \"e\" {\nINOUT\n}\n", 2, "EXPAND ブロック内では、INOUT の記述はできません。"},
    {"cut_input_twice", "CUT \"c\" {\nINPUT \"a\"\nINPUT \"b\"\n}\n", 3, "CUT ブロックに、複数の INPUT が定義されています。"},
    {"cut_no_input", "CUT \"c\" {\nSTART 1\n}\n", 3, "CUT ブロックに、INPUT が定義されていません。"},
    {"cut_unknown_keyword", "CUT \"c\" {\nFRAMES 1\n}\n", 2, "CUT ブロック内では、FRAMES の記述はできません。"},
    {"cut_start_negative", "CUT \"c\" {\nSTART -1\n}\n", 2, "開始フレーム番号の下限値を超えています。"},
    {"cut_end_negative", "CUT \"c\" {\nEND -1\n}\n", 2, "終了フレーム番号の下限値を超えています。"},
    {"cut_skip_negative", "CUT \"c\" {\nSKIP -1\n}\n", 2, "フレームスキップ値の下限値を超えています。"},
    {"alpha_end_256", "ALPHA \"a\" {\nEND 256\n}\n", 2, "終了α値の上限値を超えています。"},
    {"alpha_start_negative", "ALPHA \"a\" {\nSTART -1\n}\n", 2, "開始α値の下限値を超えています。"},
    {"alpha_input_twice", "ALPHA \"a\" {\nINPUT \"a\"\nINPUT \"b\"\n}\n", 3,
     "ALPHA ブロックに、複数の INPUT が定義されています。"},
    {"alpha_no_input", "ALPHA \"a\" {\n}\n", 2, "ALPHA ブロックに、INPUT が定義されていません。"},
    {"alpha_skip", "ALPHA \"a\" {\nSKIP 2\n}\n", 2, "ALPHA ブロック内では、SKIP の記述はできません。"},
    {"shade_input_twice", "SHADE \"s\" {\n!INPUT \"a\"\n!INPUT \"b\"\n}\n", 3,
     "SHADE ブロックに、複数の INPUT が定義されています。"},
    {"shade_no_input", "SHADE \"s\" {\nEND 3\n}\n", 3, "SHADE ブロックに、INPUT が定義されていません。"},
    {"shade_skip", "SHADE \"s\" {\nSKIP 2\n}\n", 2, "SHADE ブロック内では、SKIP の記述はできません。"},
    {"shade_end_negative", "SHADE \"s\" {\nEND -3\n}\n", 2, "終了フレーム番号の下限値を超えています。"},
    {"checkpoint_cx", "CHECKPOINT {\nCF 1\nCX 2\n}\n", 3, "CHECKPOINT ブロック内では、CX の記述はできません。"},
    {"checkpoint_negative", "CHECKPOINT {\nCT -5\n}\n", 2, "チェックポイントの下限値を超えています。"},
    {"checkpoint_green_256", "CHECKPOINT {\nCF 1 0 256 0\n}\n", 2, "緑の輝度の上限値を超えています。"},
    {"checkpoint_colour_expression", "CHECKPOINT {\nCF 1 (0) 0 0\n}\n", 2,
     "CHECKPOINT ブロック内では、(0) の記述はできません。"},
    {"checkpoint_missing_brace", "CHECKPOINT\nCF 1\n", 2, "不正な記述があります。"},
    // Keywords of 256 bytes overflow the buffer; 255 fit and are named in the message.
    {"keyword_256_in_block", "IMAGE \"a\" {\n" + std::string(256, 'K') + "\n}\n", 2,
     "一時バッファをオーバーフローしました。"},
    {"keyword_255_in_block", "IMAGE \"a\" {\n" + std::string(255, 'K') + "\n}\n", 2,
     "IMAGE ブロック内では、" + std::string(255, 'K') + " の記述はできません。"},
    {"keyword_256_in_checkpoint", "CHECKPOINT {\n" + std::string(256, 'K') + " 1\n}\n", 2,
     "一時バッファをオーバーフローしました。"},
};
INSTANTIATE_TEST_SUITE_P(Effects, GrammarErrors, ::testing::ValuesIn(EffectRows), rowName);

// ---------------------------------------------------------------------------------------------
// What the keywords store, beyond the written lines (the model's read-then-write test
// checks those for every kind).

TEST(GrammarFields, textStringsJoinWithCrLf)
{
    // 表 and ソ end in the backslash byte 0x5C; the pair that follows them is still a line break
    // and the characters stay whole.
    const SjisString hyou = *utf8ToSjis("表");
    const SjisString so = *utf8ToSjis("ソ");
    const std::vector<std::pair<std::string, SjisString>> cases = {
        {"STRING \"A\"\nSTRING \"B\"", "A\r\nB"},
        {"STRING \"A\\\\B\"", "A\r\nB"},
        {"STRING \"x\\\\\\y\"", "x\r\n\\y"},  // pairs are taken from the left
        {"STRING \"" + hyou + "\\\\" + so + "\\" + so + "\"", hyou + "\r\n" + so + "\\" + so},
    };
    for (const auto &[lines, expected] : cases) {
        Read read("TEXT \"t\" {\nSIZE 10 20\n" + lines + "\nFONT \"Face\" 7 9\n}\n");
        ASSERT_EQ(read.result, 0) << lines;
        EXPECT_EQ(read.block<TextBlock>(0).string, expected) << lines;
    }
}

TEST(GrammarFields, filmLengthFollowsScreenAsRead)
{
    // 640 / 16 = 40 units, 13 per input after the first.
    Read read("FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nINPUT \"c\"\nLEFT\nCOLOR 1 2 3\nBGCOLOR 4 5 6\nFRAMES 9\n}\n"
              "FILM \"g\" {\nINPUT \"a\"\nINPUT \"b\"\nUP\nFRAMES 2\n}\n"
              "SCREEN 320 240\n"
              "FILM \"h\" {\nINPUT \"a\"\nINPUT \"b\"\nRIGHT\nFRAMES 2\n}\n",
              640, 479);
    ASSERT_EQ(read.result, 0) << (read.prompter.errors.empty() ? "" : read.prompter.errors[0]);
    auto &left = read.block<FilmBlock>(0);
    EXPECT_EQ(left.direction, DirectionLeft);
    EXPECT_EQ(left.inputCount, 3);
    EXPECT_EQ(left.filmLength, 1040);
    EXPECT_EQ(left.color, (Colour{1, 2, 3, 0}));
    EXPECT_EQ(left.bgColor, (Colour{4, 5, 6, 255}));
    // UP uses the height, rounded down to sixteenths: 479 >> 4 = 29.
    EXPECT_EQ(read.block<FilmBlock>(1).filmLength, 29 * 13);
    // Read after SCREEN 320 240: the earlier blocks keep their lengths.
    EXPECT_EQ(read.block<FilmBlock>(2).filmLength, 20 * 13);
    EXPECT_EQ(left.filmLength, 1040);
}

TEST(GrammarFields, filmLengthStaysInRange)
{
    const char *film = "FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nINPUT \"c\"\nINPUT \"d\"\nRIGHT\nFRAMES 2\n}\n";
    Read huge(film, INT32_MAX, 10);
    ASSERT_EQ(huge.result, 0);
    EXPECT_EQ(huge.block<FilmBlock>(0).filmLength, INT32_MAX);
    // Before any SCREEN line the width is -1: no scroll, never a negative one.
    Read unknown(film, -1, -1);
    ASSERT_EQ(unknown.result, 0);
    EXPECT_EQ(unknown.block<FilmBlock>(0).filmLength, 0);
}

// What the lines of MAIN set beyond its written lines (those are in the read-then-write test).
TEST(GrammarFields, seriesAndMain)
{
    Read read("SERIES \"s\" {\nINPUT \"a\"\n}\n"
              "MAIN {\nINPUT \"s\"\n!INPUT \"c\"\nALINK_VOLUME_ALPHA\n}\n");
    ASSERT_EQ(read.result, 0) << (read.prompter.errors.empty() ? "" : read.prompter.errors[0]);
    EXPECT_EQ(read.block<SeriesBlock>(0).kind, BlockKind::Series);
    auto &main = read.block<SeriesBlock>(1);
    EXPECT_EQ(main.kind, BlockKind::Main);
    EXPECT_EQ(main.name, SjisString(" "));
    EXPECT_EQ(read.scenario.mainInput.block, &main);
    EXPECT_TRUE(read.scenario.usesAudioLink);

    Read empty("MAIN {\n}\n");
    ASSERT_EQ(empty.result, 0);
    EXPECT_FALSE(empty.scenario.usesAudioLink);
    EXPECT_TRUE(empty.block<SeriesBlock>(0).inputs.empty());
}

TEST(GrammarFields, checkpointEntries)
{
    Read read("CHECKPOINT {\n\tCF\t37\t0\t255\t0\t# 1234\n\tCT 1234\nCF 5 204 204 0 }\n"
              "CHECKPOINT\n{\nCT 0 1 2 3\n}\n");
    ASSERT_EQ(read.result, 0) << (read.prompter.errors.empty() ? "" : read.prompter.errors[0]);
    const std::vector<Checkpoint> expected = {
        {-1, 37, {0, 255, 0, 255}},
        {1234, -1, {255, 255, 255, 255}},
        {-1, 5, {204, 204, 0, 255}},
        {0, -1, {1, 2, 3, 255}},
    };
    EXPECT_EQ(read.scenario.checkpoints, expected);
}

TEST(GrammarFields, checkpointRecordsBeforeAFailureStay)
{
    Read read("CHECKPOINT {\nCF 1\nCT x\n}\n");
    EXPECT_EQ(read.result, -1);
    ASSERT_EQ(read.prompter.errors.size(), 1u);
    EXPECT_EQ(read.prompter.errors[0], composed(3, "チェックポイントを正しく記述してください。"));
    ASSERT_EQ(read.scenario.checkpoints.size(), 1u);
    EXPECT_EQ(read.scenario.checkpoints[0].frame, 1);
}

// ---------------------------------------------------------------------------------------------
// Keyword limits and the end of the text.

TEST(GrammarFrame, blocksEndingWithTheTextSkipClosingChecks)
{
    // No closing brace and no byte after the last value: accepted as they stand (the way a
    // macro body's last block ends).
    Read image("IMAGE \"a\" {\nSEPIA\nFILE \"x\"");
    EXPECT_EQ(image.result, 0);
    EXPECT_TRUE(image.prompter.errors.empty());
    EXPECT_EQ(image.block<ImageBlock>(0).file, SjisString("x"));

    Read text("TEXT \"t\" {\nSTRING \"x\"");
    ASSERT_EQ(text.result, 0);
    EXPECT_EQ(text.block<TextBlock>(0).font, utf8ToSjis("ＭＳ ゴシック"));

    Read film("FILM \"f\" {\nDOWN\nINPUT \"a\"\nINPUT \"b\"", 640, 480);
    ASSERT_EQ(film.result, 0);
    EXPECT_EQ(film.block<FilmBlock>(0).inputCount, 2);
    EXPECT_EQ(film.block<FilmBlock>(0).filmLength, 30 * 13);

    Read fade("FADEOUT \"f\" {\nINPUT \"a\"");
    ASSERT_EQ(fade.result, 0);
    EXPECT_EQ(fade.block<FadeBlock>(0).fadeMode, FadeBlock::ModeOut);

    Read main("MAIN {\nINPUT \"a\"");
    ASSERT_EQ(main.result, 0);
    EXPECT_EQ(main.scenario.mainInput.block, main.scenario.blocks[0].get());

    // A keyword or a plain number may not end the text; a quote, a brace or an expression may.
    Read checkpoints("CHECKPOINT {\nCF 3 }\nCHECKPOINT {");
    EXPECT_EQ(checkpoints.result, 0);
    EXPECT_EQ(checkpoints.scenario.checkpoints.size(), 1u);

    Read cut("IMAGE \"a\" {\nSEPIA\nFILE \"x\"\nCLIP");
    EXPECT_EQ(cut.result, -1);
    ASSERT_EQ(cut.prompter.errors.size(), 1u);
    EXPECT_EQ(cut.prompter.errors[0], composed(4, "不明なエラーが発生しました。"));
}

TEST(GrammarFrame, rectEndingWithTheTextUsesOnlyPointsRead)
{
    Read one("DRAW \"d\" {\nSIZE 5 5\nRECT {\nFILL\nPOINT 7 (8)");
    ASSERT_EQ(one.result, 0);
    ASSERT_EQ(one.block<DrawBlock>(0).shapes.size(), 1u);
    auto *rect = dynamic_cast<ShapePolygon *>(one.block<DrawBlock>(0).shapes[0].get());
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->points, (std::vector<ShapePoint>(4, ShapePoint{7, 8})));

    Read none("DRAW \"d\" {\nSIZE 5 5\nRECT {");
    ASSERT_EQ(none.result, 0);
    auto *empty = dynamic_cast<ShapePolygon *>(none.block<DrawBlock>(0).shapes[0].get());
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->points.empty());
    EXPECT_EQ(empty->count, 0);
}

// Points are kept newest first, whether the shape closes or the text ends inside it.
TEST(GrammarFrame, shapePointsAreKeptNewestFirst)
{
    const struct {
        const char *text;
        std::vector<ShapePoint> points;
    } rows[] = {
        {"DRAW \"d\" {\nSIZE 9 9\nLINE {\nPOINT 1 2\nPOINT 3 4\nPOINT 5 6\n}\n}\n",
         {{5, 6}, {3, 4}, {1, 2}}},
        {"DRAW \"d\" {\nSIZE 9 9\nPOLYGON {\nPOINT 1 1\nPOINT 2 1\nPOINT 2 2\nPOINT 1 (3)",
         {{1, 3}, {2, 2}, {2, 1}, {1, 1}}},
    };
    for (const auto &row : rows) {
        Read read(row.text);
        ASSERT_EQ(read.result, 0) << row.text;
        auto *line = dynamic_cast<ShapeLine *>(read.block<DrawBlock>(0).shapes.at(0).get());
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->points, row.points) << row.text;
        EXPECT_EQ(line->count, int32_t(row.points.size()));
    }
}

TEST(GrammarFrame, shiftJisNamesAreBytes)
{
    // 表 ends in 0x5C, a backslash byte; names are never decoded, and messages decode keywords.
    const SjisString name = *utf8ToSjis("表示");
    const SjisString word = *utf8ToSjis("画像");
    Read read("STILL \"" + name + "\" {\nINPUT \"" + name + "\"\nFRAMES 2\n}\nSTILL \"b\" {\n" + word + "\n}\n");
    EXPECT_EQ(read.result, -1);
    ASSERT_EQ(read.scenario.blocks.size(), 1u);
    EXPECT_EQ(read.scenario.blocks[0]->name, name);
    EXPECT_EQ(read.scenario.blocks[0]->inputs[0]->name, name);
    ASSERT_EQ(read.prompter.errors.size(), 1u);
    EXPECT_EQ(read.prompter.errors[0], composed(6, "STILL ブロック内では、画像 の記述はできません。"));
}

} // namespace
