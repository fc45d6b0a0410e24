#include "project/length_text.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

struct FormatCase {
    double mm;
    bool space;
    int style;
    const char* expected;
};

struct ParseCase {
    const char* text;
    bool metric;
    double mm;
};

} // namespace

TEST(FormatLength, StylesTable)
{
    const FormatCase cases[] = {
        {2540, false, 0, "8'4\""},
        {1828.8, false, 0, "6'"},
        {82.55, false, 0, "3.25\""},
        {100, false, 0, "3.9\""},
        {0, true, 0, "0\""},
        {254, false, 0, "10\""},
        {1816, false, 0, "5'11\""},  // 71.496 inches
        {1818, false, 0, "6'"},      // 71.57 inches carry into the next foot, never 5'12"
        {2540, false, 2, "100\""},
        {3048, false, 2, "10'"},
        {3058, false, 2, "10'"},      // 0.39 inches show as no inches at all
        {3070, false, 2, "10'1\""},
        {254, false, 1, "10\""},
        {0, true, 1, "0\""},
        {100, true, 1, "3.9\""},
        {125, false, 3, "12.5cm"},
        {120, false, 3, "12cm"},
        {1000, true, 3, "100 cm"},
        {0, false, 3, "0cm"},
        {999, false, 4, "100cm"},
        {1000, false, 4, "1.00m"},
        {25000, true, 4, "25.00 m"},
        {1234.5, true, 5, "1.23 m"},
        {12, false, 5, "0.01m"},
        {1000, false, 6, ""},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatLength(c.mm, c.space, c.style), QString::fromUtf8(c.expected))
            << c.mm << " mm, style " << c.style;
}

TEST(FormatLength, FeetAndInchesKeepTheSign)
{
    const FormatCase cases[] = {
        {-2540, false, 0, "-8'4\""},
        {-1828.8, false, 0, "-6'"},
        {-82.55, false, 0, "-3.25\""},
        {-2540, false, 2, "-100\""},
        {-3048, false, 2, "-10'"},
        {-0.5, false, 0, "0\""}, // rounds to nothing: no lone minus
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatLength(c.mm, c.space, c.style), QString::fromUtf8(c.expected))
            << c.mm << " mm, style " << c.style;
    // Lengths no int can hold still format.
    EXPECT_TRUE(formatLength(1e15, false, 0).startsWith("3280839895013'"));
}

TEST(ParseNumber, EdgeCasesTable)
{
    const ParseCase cases[] = {
        {"2.5 m", true, 2500},  {"2.5 m", false, 2500}, {"150cm", false, 1500}, {"12 mm", true, 12},
        {"-3m", true, -3000},   {"150", true, 1500},    {"150", false, 3810},   {"5ft", true, 1524},
        {"5ft 3in", true, 1600.2}, {"5' 3\"", false, 1600.2}, {"5'3", false, 0}, {"", true, 0},
        {"  ", false, 0},       {"abc", true, 0},       {"m", true, 0},         {"2,5 m", true, 2500},
        {"1,25m", false, 1250}, {"2,5", true, 25},      {"1.5e3 mm", true, 1500}, {"1.5e999 m", true, 0},
        {"nan", true, 0},       {"inf", true, 0},       {"12\"", true, 304.8},  {"0.5in", false, 12.7},
    };
    for (const ParseCase& c : cases)
        EXPECT_NEAR(parseNumber(QString::fromUtf8(c.text), c.metric), c.mm, 1e-9)
            << c.text << (c.metric ? " (metric)" : " (imperial)");
}

TEST(ParseNumber, FeetInchesPatternNeedsTheClosingMark)
{
    EXPECT_DOUBLE_EQ(parseFeetInches(""), 0);
    EXPECT_DOUBLE_EQ(parseFeetInches("   "), 0);
    EXPECT_DOUBLE_EQ(parseFeetInches(" 10' "), 3.048);
    EXPECT_DOUBLE_EQ(parseFeetInches("6in"), 0.1524);
    EXPECT_DOUBLE_EQ(parseFeetInches("1'6"), 0);
    EXPECT_DOUBLE_EQ(parseFeetInches("1.5'"), 0); // whole feet only
    EXPECT_DOUBLE_EQ(parseFeetInches("1'  6\""), 0);
}

// Generated lengths read back and compared with GNU units on the same quantity.
TEST(ParseNumber, AgreesWithGnuUnits)
{
    if (!testsupport::haveTool("units"))
        GTEST_SKIP() << "GNU units is not installed";
    struct Sample {
        QString text;
        bool metric;
        QString unitsExpression;
    };
    QList<Sample> samples;
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> feet(0, 80);
    std::uniform_int_distribution<int> hundredths(0, 1199);
    std::uniform_int_distribution<int> thousandths(1, 60000);
    const auto fixed = [](double v, int decimals) { return QString::number(v, 'f', decimals); };
    for (int i = 0; i < 40; ++i) {
        const QString f = QString::number(feet(random));
        const QString in = fixed(hundredths(random) / 100.0, 2);
        const QString m = fixed(thousandths(random) / 1000.0, 3);
        const QString cm = fixed(thousandths(random) / 100.0, 1);
        const QString mm = fixed(thousandths(random) / 10.0, 1);
        const QString ftIn = f + " ft + " + in + " in";
        samples += {
            {f + "ft", false, f + " ft"},
            {f + "'", true, f + " ft"},
            {in + "in", true, in + " in"},
            {in + "\"", false, in + " in"},
            {in, false, in + " in"},
            {f + "ft " + in + "in", true, ftIn},
            {f + "' " + in + "\"", false, ftIn},
            {f + "'" + in + "\"", true, ftIn},
            {m + " m", false, m + " m"},
            {"-" + m + "m", true, "-" + m + " m"},
            {QString(m).replace('.', ',') + " m", true, m + " m"},
            {cm + "cm", false, cm + " cm"},
            {cm, true, cm + " cm"},
            {mm + " mm", true, mm + " mm"},
        };
    }
    QByteArray queries;
    for (const Sample& s : samples)
        queries += s.unitsExpression.toUtf8() + "\nmm\n";
    const testsupport::ProcessResult r = testsupport::runProcess("units", {"-t", "--quiet", "-o", "%.15g"}, queries);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), samples.size());
    for (qsizetype i = 0; i < samples.size(); ++i) {
        bool ok = false;
        const double expected = lines[i].trimmed().toDouble(&ok);
        ASSERT_TRUE(ok) << lines[i].toStdString();
        const double actual = parseNumber(samples[i].text, samples[i].metric);
        EXPECT_NEAR(actual, expected, std::max(1e-6 * std::abs(expected), 1e-9))
            << samples[i].text.toStdString() << " vs units " << samples[i].unitsExpression.toStdString();
    }
}
