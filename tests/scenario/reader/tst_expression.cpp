// SourceText byte operations and the expression evaluator's grouping and wrap-around.
#include "support/datatable.h"
#include "scenario/reader/expression.h"
#include "scenario/reader/sourcetext.h"

#include <map>

namespace vorn {
namespace {

SourceText makeText(std::string data)
{
    return SourceText(std::move(data), SjisString("a.txt"), "a.txt");
}

TEST(SourceText, TokensNeedADelimiterBeforeTheEnd)
{
    SourceText text = makeText("SCREEN 640");
    auto first = text.takeToken(" \t\n");
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "SCREEN");
    EXPECT_EQ(text.position(), 6);
    // Empty token: the position stays.
    EXPECT_FALSE(text.takeToken(" \t\n"));
    EXPECT_EQ(text.position(), 6);
    text.skip(" ");
    // "640" runs to the very end of the text: no token, position unchanged.
    EXPECT_FALSE(text.takeToken(" \t\n"));
    EXPECT_EQ(text.position(), 7);
    EXPECT_EQ(text.peek(), '6');
}

TEST(SourceText, ByteOperationsStopAtTheEnd)
{
    SourceText text = makeText("ab\ncd\n");
    EXPECT_EQ(text.take(), 'a');
    text.skipTo('\n');
    EXPECT_EQ(text.position(), 2);
    EXPECT_EQ(text.lineNumber(), 1);
    text.advance();
    EXPECT_EQ(text.lineNumber(), 2);
    text.skipTo('x');
    EXPECT_TRUE(text.atEnd());
    EXPECT_EQ(text.position(), 6);
    EXPECT_EQ(text.lineNumber(), 3);
    EXPECT_EQ(text.take(), 0);
    EXPECT_EQ(text.peek(), 0);
    text.advance();
    EXPECT_EQ(text.position(), 6);
    // The line count also goes back with the position.
    text.setPosition(1);
    EXPECT_EQ(text.lineNumber(), 1);
    text.setPosition(1000);
    EXPECT_EQ(text.position(), 6);
    text.skip("");
    EXPECT_EQ(text.data(), "ab\ncd\n");
}

TEST(SourceText, PrepareBlanksCommentsAndCarriageReturnsEverywhere)
{
    SourceText text = makeText("A \"x#y\"\r\nB # c\r\n#\nC#");
    text.prepare();
    EXPECT_EQ(text.data(), "A \"x    \nB     \n \nC ");
}

// The rows of data/expressions.tsv.
TEST(Expression, ValuesGroupingWrapAroundAndFailures)
{
    for (const test::Row &row : test::readTable("tests/scenario/reader/data/expressions.tsv")) {
        int32_t value = 12345;
        EXPECT_EQ(AnalyzeExpressionMain(row.at(0), value), std::stoi(row.at(1))) << row[0];
        EXPECT_TRUE(row.size() < 3 || value == std::stoi(row[2])) << row[0] << " gave " << value;
    }
}

TEST(Expression, DeepAndLongTextsStayBounded)
{
    // Nesting within the bound works; beyond it the expression fails instead of recursing on. A
    // long flat sum is a left fold, not one recursion per operator.
    std::string sum = "0";
    for (int i = 0; i < 200000; ++i)
        sum += "+1";
    int32_t deep = 0, tooDeep = 0, flat = 0;
    EXPECT_EQ(AnalyzeExpressionMain(std::string(500, '(') + "7" + std::string(500, ')'), deep), 0);
    EXPECT_EQ(AnalyzeExpressionMain(std::string(100000, '(') + "7" + std::string(100000, ')'), tooDeep), -1);
    EXPECT_EQ(AnalyzeExpressionMain(sum, flat), 0);
    EXPECT_EQ(deep, 7);
    EXPECT_EQ(flat, 200000);
}

TEST(Expression, CutsTheExpressionOutOfTheText)
{
    const std::map<std::string, std::string> variables{{"LEN", "30"}, {"NEG", "-2"}};
    const VariableLookup lookup = [&variables](std::string_view name) -> const std::string * {
        const auto it = variables.find(std::string(name));
        return it == variables.end() ? nullptr : &it->second;
    };
    int32_t value = 0;

    SourceText group = makeText("(1 2\n+ $( LEN )) rest");
    ASSERT_EQ(AnalyzeExpression(group, value, lookup), 0);
    EXPECT_EQ(value, 42);  // blanks join digits: 12 + 30
    EXPECT_EQ(group.data().substr(group.position()), " rest");

    // A bare reference is the value; what follows is not part of it.
    SourceText bare = makeText("$(LEN)*2 ");
    ASSERT_EQ(AnalyzeExpression(bare, value, lookup), 0);
    EXPECT_EQ(value, 30);
    EXPECT_EQ(bare.position(), 6);

    SourceText negative = makeText("(3*$(NEG)) ");
    ASSERT_EQ(AnalyzeExpression(negative, value, lookup), 0);
    EXPECT_EQ(value, -2);  // 3*-2 groups as (3*0)-2

    for (const char *bad : {"$(MISSING) ", "(1.5*2) ", "$ (LEN) ", "() ", "(1+2 ", "(0x10) ",
                            "($(LEN) ", "$() "}) {
        SourceText text = makeText(bad);
        EXPECT_EQ(AnalyzeExpression(text, value, lookup), -1) << bad;
    }
}

TEST(Expression, InsideParenthesis)
{
    // The text, what is inside ("-": none) and where reading ends.
    const struct {
        const char *text, *inside;
        int32_t end;
    } rows[] = {{"ab (x(y)z) c", "x(y)z", 10}, {"()", "-", -1}, {"(abc", "-", -1}, {"abc", "-", -1}};
    for (const auto &row : rows) {
        SourceText text = makeText(row.text);
        EXPECT_EQ(GetInsideParenthesis(text).value_or("-"), row.inside) << row.text;
        EXPECT_TRUE(row.end < 0 || text.position() == row.end) << row.text;
    }
}

} // namespace
} // namespace vorn
