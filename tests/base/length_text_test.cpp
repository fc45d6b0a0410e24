#include "base/length_text.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <random>

TEST(FormatLength, StylesRoundingAndSign)
{
    const std::tuple<double, bool, int, const char*> cases[] = {
        {2540, false, 0, "8'4\""}, {1828.8, false, 0, "6'"}, {82.55, false, 0, "3.25\""}, {0, true, 0, "0\""},
        {1816, false, 0, "5'11\""}, {1818, false, 0, "6'"}, // 71.57 inches carry into the next foot, never 5'12"
        {2540, false, 2, "100\""}, {3058, false, 2, "10'"}, {3070, false, 2, "10'1\""}, {100, true, 1, "3.9\""},
        {125, false, 3, "12.5cm"}, {1000, true, 3, "100 cm"}, {999, false, 4, "100cm"}, {25000, true, 4, "25.00 m"},
        {1234.5, true, 5, "1.23 m"}, {1000, false, 6, ""}, {-2540, false, 0, "-8'4\""}, {-82.55, false, 0, "-3.25\""},
        {-3048, false, 2, "-10'"}, {-0.5, false, 0, "0\""}, // rounds to nothing: no lone minus
    };
    for (const auto& [mm, space, style, expected] : cases)
        EXPECT_EQ(formatLength(mm, space, style), QString::fromUtf8(expected)) << mm << " mm, style " << style;
    EXPECT_TRUE(formatLength(1e15, false, 0).startsWith("3280839895013'")) << "beyond what an int holds";
}

TEST(ParseNumber, UnitsCommasAndUnreadableText)
{
    const std::tuple<const char*, bool, double> cases[] = {
        {"2.5 m", false, 2500}, {"150cm", false, 1500}, {"-3m", true, -3000}, {"150", true, 1500}, {"150", false, 3810},
        {"5ft 3in", true, 1600.2}, {"5' 3\"", false, 1600.2}, {"5'3", false, 0}, {"", true, 0}, {"m", true, 0},
        {"2,5 m", true, 2500}, {"1,25m", false, 1250}, {"1.5e3 mm", true, 1500}, {"1.5e999 m", true, 0},
        {"nan", true, 0}, {"inf", true, 0}, {"12\"", true, 304.8},
    };
    for (const auto& [text, metric, mm] : cases)
        EXPECT_NEAR(parseNumber(text, metric), mm, 1e-9) << text << (metric ? " (metric)" : " (imperial)");
}

// Generated lengths read back and compared with GNU units on the same quantity.
TEST(ParseNumber, AgreesWithGnuUnits)
{
    if (!testsupport::haveTool("units"))
        GTEST_SKIP() << "GNU units is not installed";
    QList<std::tuple<QString, bool, QString>> samples; // text, metric, the quantity for units
    std::mt19937 random(2024);
    const auto fixed = [&](int high, double scale, int decimals) {
        return QString::number(std::uniform_int_distribution<int>(0, high)(random) / scale, 'f', decimals);
    };
    for (int i = 0; i < 40; ++i) {
        const QString f = fixed(80, 1, 0), in = fixed(1199, 100, 2), m = fixed(60000, 1000, 3);
        const QString cm = fixed(60000, 100, 1), mm = fixed(60000, 10, 1), ftIn = f + " ft + " + in + " in";
        samples += {{f + "ft", false, f + " ft"}, {f + "'", true, f + " ft"}, {in + "in", true, in + " in"},
                    {in + "\"", false, in + " in"}, {in, false, in + " in"}, {f + "ft " + in + "in", true, ftIn},
                    {f + "'" + in + "\"", false, ftIn}, {"-" + m + "m", true, "-" + m + " m"},
                    {QString(m).replace('.', ',') + " m", false, m + " m"}, {cm + "cm", false, cm + " cm"},
                    {cm, true, cm + " cm"}, {mm + " mm", true, mm + " mm"}};
    }
    QByteArray queries;
    for (const auto& [text, metric, quantity] : samples)
        queries += quantity.toUtf8() + "\nmm\n";
    const testsupport::ProcessResult r = testsupport::runProcess("units", {"-t", "--quiet", "-o", "%.15g"}, queries);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), samples.size());
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const auto& [text, metric, quantity] = samples[i];
        const double expected = lines[i].trimmed().toDouble();
        EXPECT_NEAR(parseNumber(text, metric), expected, std::max(1e-6 * std::abs(expected), 1e-9))
            << text.toStdString() << " vs units " << quantity.toStdString() << " = " << lines[i].toStdString();
    }
}
