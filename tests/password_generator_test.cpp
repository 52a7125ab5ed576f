// The password generator: the 位数 count conversion, the alphabet and length of passwords, exact
// rejection sampling on scripted draws, and chi-square checks that the draws are unbiased.
#include "ui/password_generator.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace ob {
namespace {

TEST(PasswordCount, ConvertsLikeTheBoxIsRead) {
    const struct {
        const char* text;
        std::int32_t count;
    } cases[] = {
        {"10", 10},
        {"", 0},
        {"abc", 0},
        {"0", 0},
        {"-3", -3},
        {"12abc", 12},
        {"   7", 7},
        {"\t\r\n8", 8},
        {"+5", 5},
        {"+-5", 0},  // one sign only
        {"1 2", 1},
        {"１２", 12},                 // full-width digits
        {"　＋１２", 12},             // ideographic space and full-width plus
        {"－４", -4},                 // full-width minus
        {"中12", 0},                  // a Chinese character is no white space
        {"4294967306", 10},           // 2^32 + 10 wraps to 10
        {"2147483648", INT32_MIN},    // 2^31 reads as negative
        {"99999999999", 1215752191},  // modulo 2^32
        {"-2147483649", INT32_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PasswordCountFromText(c.text), c.count) << "text: " << c.text;
    }
}

bool IsPasswordCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

TEST(GeneratePassword, HasTheCountOfDigitsAndLettersOrIsEmpty) {
    for (std::int32_t n : {1, 10, 1024}) {
        std::optional<SecureString> p = GeneratePassword(n);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->size(), static_cast<std::size_t>(n));
        for (char c : p->view()) {
            EXPECT_TRUE(IsPasswordCharacter(c)) << "character code " << int(c);
        }
    }
    for (std::int32_t n : {0, -3, INT32_MIN}) {
        std::optional<SecureString> p = GeneratePassword(n);
        ASSERT_TRUE(p.has_value());
        EXPECT_TRUE(p->empty());
    }
    EXPECT_NE(GeneratePassword(16)->view(), GeneratePassword(16)->view());
}

// ---- Scripted draws ----------------------------------------------------------------------

std::deque<std::uint32_t> g_draws;

bool ScriptedDraws(std::span<std::uint8_t> out) {
    EXPECT_EQ(out.size(), 4u);
    if (g_draws.empty()) {
        ADD_FAILURE() << "more draws than scripted";
        return false;
    }
    std::memcpy(out.data(), &g_draws.front(), 4);
    g_draws.pop_front();
    return true;
}

bool FailingSource(std::span<std::uint8_t>) {
    return false;
}

class ScopedSource {
  public:
    explicit ScopedSource(RandomByteSource s) : old_(SetRandomByteSourceForTesting(s)) {}
    ~ScopedSource() { SetRandomByteSourceForTesting(old_); }

  private:
    RandomByteSource old_;
};

TEST(RandomInRange, MapsDrawsExactlyAndRejectsTheUnevenTail) {
    ScopedSource source(&ScriptedDraws);
    const struct {
        std::int32_t low, high;
        std::vector<std::uint32_t> draws;  // the last one is taken
        std::int32_t value;
    } cases[] = {
        {0, 6, {0}, 0},
        {0, 6, {6}, 6},
        {0, 6, {7}, 0},
        // 2^32 mod 7 = 4: the four highest draws would favour 0 to 3 and are drawn again.
        {0, 6, {4294967291u}, 6},
        {0, 6, {4294967292u, 4294967295u, 3}, 3},
        {1, 3, {4294967295u, 5}, 3},
        {48, 57, {9}, 57},
        {INT32_MIN, INT32_MAX, {0}, INT32_MIN},
        {INT32_MIN, INT32_MAX, {4294967295u}, INT32_MAX},
        {-5, -4, {4294967295u}, -4},
    };
    for (const auto& c : cases) {
        g_draws.assign(c.draws.begin(), c.draws.end());
        EXPECT_EQ(RandomInRange(c.low, c.high), c.value) << c.low << ".." << c.high;
        EXPECT_TRUE(g_draws.empty()) << "draws left over";
    }
}

TEST(RandomInRange, AFailingSystemGeneratorGivesNothing) {
    ScopedSource source(&FailingSource);
    EXPECT_FALSE(RandomInRange(0, 9).has_value());
    EXPECT_FALSE(GeneratePassword(10).has_value());
    EXPECT_TRUE(GeneratePassword(0).has_value()) << "no draw is needed for no character";
}

// ---- Chi-square checks ------------------------------------------------------------------

// The regularised upper incomplete gamma function Q(a, x).
double UpperGammaQ(double a, double x) {
    if (x <= 0) {
        return 1;
    }
    const double front = std::exp(-x + a * std::log(x) - std::lgamma(a));
    if (x < a + 1) {
        double term = 1 / a, sum = term;
        for (int n = 1; n < 10000 && term > sum * 1e-16; ++n) {
            term *= x / (a + n);
            sum += term;
        }
        return 1 - sum * front;
    }
    const double tiny = 1e-300;
    double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 10000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        d = std::fabs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::fabs(c) < tiny ? tiny : c;
        d = 1 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1) < 1e-16) {
            break;
        }
    }
    return front * h;
}

// The p-value of the chi-square statistic of counts against the expected shares.
double ChiSquarePValue(const std::vector<long>& counts, const std::vector<double>& shares) {
    long total = 0;
    for (long c : counts) {
        total += c;
    }
    double stat = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double expected = shares[i] * static_cast<double>(total);
        stat += (counts[i] - expected) * (counts[i] - expected) / expected;
    }
    return UpperGammaQ((static_cast<double>(counts.size()) - 1) / 2, stat / 2);
}

// A false alarm in one run of a check in a million.
constexpr double kFalseAlarmRate = 1e-6;

// Draws of 0..6 counted per value.
std::vector<long> CountSmallRange(int draws) {
    std::vector<long> counts(7, 0);
    for (int i = 0; i < draws; ++i) {
        std::optional<std::int32_t> v = RandomInRange(0, 6);
        if (!v || *v < 0 || *v > 6) {
            ADD_FAILURE() << "draw outside 0..6";
            return counts;
        }
        ++counts[static_cast<std::size_t>(*v)];
    }
    return counts;
}

const std::vector<double> kSevenEqual(7, 1.0 / 7);

// A generator that gives 0 for one draw in ten and otherwise good 32-bit values.
bool BiasedSource(std::span<std::uint8_t> out) {
    static std::mt19937 engine(12345);
    std::uint32_t v = engine();
    if (engine() % 10 == 0) {
        v = 0;
    }
    std::memcpy(out.data(), &v, 4);
    return true;
}

TEST(RandomInRange, EveryValueOfASmallRangeIsEquallyLikely) {
    // The p-value function itself, where it has a closed form (two degrees of freedom).
    EXPECT_NEAR(UpperGammaQ(1, 27.631021 / 2), 1e-6, 1e-10);
    EXPECT_NEAR(UpperGammaQ(3, 10.0 / 2), 0.124652, 1e-6);
    const double p = ChiSquarePValue(CountSmallRange(140000), kSevenEqual);
    EXPECT_GT(p, kFalseAlarmRate);
}

TEST(RandomInRange, TheCheckCatchesABiasedGenerator) {
    ScopedSource source(&BiasedSource);
    const double p = ChiSquarePValue(CountSmallRange(140000), kSevenEqual);
    EXPECT_LT(p, kFalseAlarmRate);
}

TEST(RandomInRange, ARangeOfThreeQuartersOfAllDrawsIsUnbiased) {
    // 3 * 2^30 values: reducing a 32-bit draw modulo the size without rejection would give the
    // lowest third half of all draws.
    const std::int32_t low = INT32_MIN;
    const std::int32_t high =
        static_cast<std::int32_t>(static_cast<std::int64_t>(low) + 3 * (std::int64_t{1} << 30) - 1);
    std::vector<long> thirds(3, 0);
    for (int i = 0; i < 30000; ++i) {
        std::optional<std::int32_t> v = RandomInRange(low, high);
        ASSERT_TRUE(v && *v >= low && *v <= high);
        ++thirds[static_cast<std::size_t>((static_cast<std::int64_t>(*v) - low) >> 30)];
    }
    EXPECT_GT(ChiSquarePValue(thirds, {1.0 / 3, 1.0 / 3, 1.0 / 3}), kFalseAlarmRate);
}

// Characters of many passwords counted per character, against a third per class spread evenly.
double PasswordCharacterPValue() {
    std::vector<long> counts(62, 0);
    for (int i = 0; i < 156; ++i) {
        std::optional<SecureString> p = GeneratePassword(800);
        if (!p) {
            ADD_FAILURE() << "no password";
            return 0;
        }
        for (char c : p->view()) {
            const int k = c <= '9' ? c - '0' : c <= 'Z' ? 10 + c - 'A' : 36 + c - 'a';
            ++counts[static_cast<std::size_t>(k)];
        }
    }
    std::vector<double> shares(62, 1.0 / 78);
    for (int k = 0; k < 10; ++k) {
        shares[static_cast<std::size_t>(k)] = 1.0 / 30;
    }
    return ChiSquarePValue(counts, shares);
}

TEST(GeneratePassword, ClassesAndCharactersFollowTheirShares) {
    EXPECT_GT(PasswordCharacterPValue(), kFalseAlarmRate);
    ScopedSource source(&BiasedSource);
    EXPECT_LT(PasswordCharacterPValue(), kFalseAlarmRate);
}

}  // namespace
}  // namespace ob
