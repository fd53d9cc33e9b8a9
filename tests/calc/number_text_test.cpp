// SPDX-License-Identifier: MIT
#include "calc/number_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <locale>
#include <random>
#include <sstream>
#include <string>

namespace ticklark::calc {
namespace {

TEST(FormatNumber, DisplayTexts) {
  const struct {
    double value;
    const char* text;
  } rows[] = {
      {2.0 / 3, "0.666666666666667"},
      {1.0 / 3, "0.333333333333333"},
      {std::sqrt(2.0), "1.4142135623731"},
      {5.0, "5"},
      {-0.5, "-0.5"},
      {1e20, "1E+20"},
      {std::ldexp(1.0, 70), "1.18059162071741E+21"},
      {100.0, "100"},
      {-0.0, "0"},
      {0.1 + 0.2, "0.3"},
      {-123456.7890123456, "-123456.789012346"},
      {999999999999999.0, "999999999999999"},
      {999999999999999.9, "1E+15"},
      {1e15, "1E+15"},
      {0.00012345, "0.00012345"},
      {0.000099999999999999995, "0.0001"},
      {0.00001, "1E-05"},
      {-1.5e-7, "-1.5E-07"},
      {1e100, "1E+100"},
      {DBL_MAX, "1.79769313486231E+308"},
      {-DBL_MAX, "-1.79769313486231E+308"},
      {5e-324, "4.94065645841247E-324"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FormatNumber(row.value), row.text);
  }
}

TEST(ParseNumber, DisplayTexts) {
  const struct {
    const char* text;
    ParseStatus status;
    double value;
  } rows[] = {
      {"12.", ParseStatus::kOk, 12},
      {"0.", ParseStatus::kOk, 0},
      {"007", ParseStatus::kOk, 7},
      {"-0.25", ParseStatus::kOk, -0.25},
      {"-.5", ParseStatus::kOk, -0.5},
      {"1E+20", ParseStatus::kOk, 1e20},
      {"1E+20.", ParseStatus::kOk, 1e20},
      {"-1.5E-07", ParseStatus::kOk, -1.5e-7},
      {"1.79769313486231E+308", ParseStatus::kOk, 1.79769313486231e308},
      {"1E-400", ParseStatus::kOk, 0},
      {"1E+400", ParseStatus::kOutOfRange, 0},
      {"-1E+3080", ParseStatus::kOutOfRange, 0},
      {"0.00000000001E+999999999999999999999", ParseStatus::kOutOfRange, 0},
      {"", ParseStatus::kNotANumber, 0},
      {"-", ParseStatus::kNotANumber, 0},
      {".", ParseStatus::kNotANumber, 0},
      {"1E+", ParseStatus::kNotANumber, 0},
      {"1E", ParseStatus::kNotANumber, 0},
      {"1E5", ParseStatus::kNotANumber, 0},
      {"1e+5", ParseStatus::kNotANumber, 0},
      {"1E+20.5", ParseStatus::kNotANumber, 0},
      {"1.5E+20.", ParseStatus::kNotANumber, 0},
      {"1..2", ParseStatus::kNotANumber, 0},
      {"+5", ParseStatus::kNotANumber, 0},
      {"--5", ParseStatus::kNotANumber, 0},
      {" 5", ParseStatus::kNotANumber, 0},
      {"1,5", ParseStatus::kNotANumber, 0},
      {"Infinity", ParseStatus::kNotANumber, 0},
      {"Cannot divide by zero.", ParseStatus::kNotANumber, 0},
  };
  for (const auto& row : rows) {
    const ParseResult result = ParseNumber(row.text);
    EXPECT_EQ(result.status, row.status) << '"' << row.text << '"';
    if (row.status == ParseStatus::kOk) {
      EXPECT_EQ(result.value, row.value) << row.text;
    }
  }
}

// The reference rounding goes through iostreams and strtod, not the code under test.
double RoundedTo15Digits(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::scientific << std::setprecision(14) << value;
  return std::strtod(text.str().c_str(), nullptr);
}

TEST(NumberText, FormattedTextReadsBackAsValueRoundedTo15Digits) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> decade(-7.0, 17.0);
  for (int i = 0; i < 100000; ++i) {
    // Every bit pattern alternates with values around the plain form's range.
    const double value = i % 2 == 0 ? std::bit_cast<double>(random())
                                    : std::pow(10.0, decade(random)) * (i % 4 == 1 ? 1 : -1);
    if (!std::isfinite(value) || std::fabs(value) >= 1.79769313486231e308) {
      continue;
    }
    const std::string text = FormatNumber(value);
    ASSERT_LE(text.size(), 22u) << text;
    const ParseResult back = ParseNumber(text);
    ASSERT_EQ(back.status, ParseStatus::kOk) << text;
    ASSERT_EQ(back.value, RoundedTo15Digits(value)) << text;
    if (std::isnormal(value)) {
      ASSERT_EQ(FormatNumber(back.value), text);
    }
  }
}

TEST(ParseNumber, ArbitraryTextsNeverGiveNonFiniteValues) {
  std::mt19937 random(99);
  const std::string alphabet = "0123456789.-+E";
  std::uniform_int_distribution<std::size_t> length(0, 36), pick(0, alphabet.size() - 1);
  for (int i = 0; i < 100000; ++i) {
    std::string text(length(random), ' ');
    for (char& c : text) {
      c = alphabet[pick(random)];
    }
    const ParseResult result = ParseNumber(text);
    if (result.status == ParseStatus::kOk) {
      ASSERT_TRUE(std::isfinite(result.value)) << text;
    }
  }
}

// Restores the C and C++ global locales.
class LocaleGuard {
 public:
  ~LocaleGuard() {
    std::locale::global(m_saved);
    std::setlocale(LC_ALL, m_savedC.c_str());
  }

 private:
  std::locale m_saved;
  std::string m_savedC = std::setlocale(LC_ALL, nullptr);
};

class CommaDecimalPoint : public std::numpunct<char> {
 protected:
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

void ExpectConversionsIgnoreLocale() {
  EXPECT_EQ(FormatNumber(1234567.5), "1234567.5");
  EXPECT_EQ(FormatNumber(-1.5e-7), "-1.5E-07");
  EXPECT_EQ(ParseNumber("1234.5").value, 1234.5);
  EXPECT_EQ(ParseNumber("1234,5").status, ParseStatus::kNotANumber);
}

TEST(NumberTextLocale, CommaDecimalFacetIsIgnored) {
  LocaleGuard guard;
  std::locale::global(std::locale(std::locale::classic(), new CommaDecimalPoint));
  std::ostringstream probe;
  probe << 1234.5;
  ASSERT_EQ(probe.str(), "1.234,5");
  ExpectConversionsIgnoreLocale();
}

TEST(NumberTextLocale, SystemLocaleWithCommaIsIgnored) {
  LocaleGuard guard;
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) {
    GTEST_SKIP() << "no German or French locale installed (see locale -a)";
  }
  std::locale::global(std::locale(found));
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  ExpectConversionsIgnoreLocale();
}

}  // namespace
}  // namespace ticklark::calc
