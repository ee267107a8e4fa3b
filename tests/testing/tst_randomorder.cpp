// The question draw's randomness: the generator, the shuffle, and the order a run asks its
// questions in.
#include "testing/testirovanie.h"

#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <set>

namespace {

// The generator's step, written out independently of the program's.
uint32_t advanced(uint32_t seed, int steps) {
    for (int i = 0; i < steps; ++i)
        seed = seed * 134775813u + 1u;
    return seed;
}

bool isOneCycle(const std::vector<int32_t>& a) {
    size_t at = 0;
    for (size_t step = 1; step <= a.size(); ++step) {
        at = size_t(a[at]);
        if (at == 0)
            return step == a.size();
    }
    return false;
}

// Upper critical value of the chi-square distribution (Wilson-Hilferty), at p = 0.001.
double chiSquareCritical(int degrees) {
    const double z = 3.090;
    const double k = double(degrees);
    const double t = 1.0 - 2.0 / (9.0 * k) + z * std::sqrt(2.0 / (9.0 * k));
    return k * t * t * t;
}

// Seeds as the clock would give them: spread over the whole 32-bit range, fixed for
// reproducible results.
std::vector<uint32_t> fixedSeeds(int count) {
    std::mt19937 source(20240917u);
    std::vector<uint32_t> seeds(static_cast<size_t>(count));
    for (uint32_t& seed : seeds)
        seed = uint32_t(source());
    return seeds;
}

// Chi-square of how often each value v (columns) stands at positions 1..10 (rows), against a
// uniform spread over the given values.
double chiSquare(const std::vector<std::vector<int>>& counts, int trials, int values) {
    const double expected = double(trials) / values;
    double sum = 0;
    for (const auto& row : counts)
        for (int observed : row)
            sum += (observed - expected) * (observed - expected) / expected;
    return sum;
}

} // namespace

class TestRandomOrder : public QObject {
    Q_OBJECT
private slots:
    void generatorKnownValues();
    void reseedFromClock();
    void emptyArrayUntouched();
    void singleEntry();
    void twoEntries();
    void threeEntries();
    void alwaysOneCycle();
    void knownShuffle();
    void drawnOrderIsTenDistinctQuestions();
    void drawnOrderUniform_data();
    void drawnOrderUniform();
    void readingTheCycleDirectlyIsBiased();
};

void TestRandomOrder::generatorKnownValues() {
    RandSeed = 0;
    QList<int32_t> got;
    for (int i = 0; i < 5; ++i)
        got << Random(100);
    QCOMPARE(got, (QList<int32_t>{0, 3, 86, 20, 27}));
    QCOMPARE(RandSeed, 1172187917u);

    RandSeed = 12345;
    got.clear();
    for (int i = 0; i < 5; ++i)
        got << Random(1000);
    QCOMPARE(got, (QList<int32_t>{385, 289, 79, 553, 633}));
    QCOMPARE(RandSeed, 2721613530u);

    // The full range, and a range of 0 or 1, which yields 0 but still advances the seed.
    RandSeed = 0xFFFFFFFFu;
    QCOMPARE(Random(2147483647), 2080095741);
    QCOMPARE(Random(0), 0);
    QCOMPARE(Random(1), 0);
    QCOMPARE(RandSeed, advanced(0xFFFFFFFFu, 3));
}

void TestRandomOrder::reseedFromClock() {
    using namespace std::chrono;
    const auto low32 = [] {
        return uint32_t(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
    };
    const uint32_t before = low32();
    Randomize();
    const uint32_t first = RandSeed;
    const uint32_t after = low32();
    // Between the two readings, modulo 2^32: the clock's low bits in nanoseconds.
    QVERIFY(uint32_t(first - before) <= uint32_t(after - before));
    Randomize();
    QVERIFY(RandSeed != first);
}

void TestRandomOrder::emptyArrayUntouched() {
    int32_t a[2] = {77, 88};
    RandSeed = 5;
    MakeRandomOrder(a, -1);
    QCOMPARE(a[0], 77);
    QCOMPARE(a[1], 88);
    QCOMPARE(RandSeed, 5u);
    MakeRandomOrder(nullptr, -1);
    QCOMPARE(RandSeed, 5u);
}

void TestRandomOrder::singleEntry() {
    int32_t a[2] = {77, 88};
    RandSeed = 5;
    MakeRandomOrder(a, 0);
    QCOMPARE(a[0], 0);
    QCOMPARE(a[1], 88);
    // The pass i = 0 still draws one value.
    QCOMPARE(RandSeed, advanced(5, 1));
}

void TestRandomOrder::twoEntries() {
    for (uint32_t seed : fixedSeeds(200)) {
        int32_t a[2] = {7, 7};
        RandSeed = seed;
        MakeRandomOrder(a, 1);
        QCOMPARE(a[0], 1);
        QCOMPARE(a[1], 0);
        QCOMPARE(RandSeed, advanced(seed, 2));
    }
}

void TestRandomOrder::threeEntries() {
    std::set<std::vector<int32_t>> seen;
    for (uint32_t seed : fixedSeeds(1000)) {
        std::vector<int32_t> a(3, -1);
        RandSeed = seed;
        MakeRandomOrder(a.data(), 2);
        seen.insert(a);
    }
    const std::set<std::vector<int32_t>> cycles = {{1, 2, 0}, {2, 0, 1}};
    QCOMPARE(seen, cycles);
}

void TestRandomOrder::alwaysOneCycle() {
    const std::vector<uint32_t> seeds = fixedSeeds(100);
    for (int32_t n = 1; n <= 40; ++n) {
        for (uint32_t seed : seeds) {
            std::vector<int32_t> a(size_t(n) + 2, -5);
            RandSeed = seed;
            MakeRandomOrder(a.data(), n);
            QCOMPARE(a.back(), -5); // nothing past a[n]
            a.pop_back();
            std::vector<int32_t> sorted = a;
            std::sort(sorted.begin(), sorted.end());
            for (int32_t i = 0; i <= n; ++i) {
                QCOMPARE(sorted[size_t(i)], i);
                QVERIFY(a[size_t(i)] != i);
            }
            QVERIFY2(isOneCycle(a), qPrintable(QStringLiteral("n = %1").arg(n)));
            QCOMPARE(RandSeed, advanced(seed, n + 1));
        }
    }
}

void TestRandomOrder::knownShuffle() {
    std::vector<int32_t> a(6);
    RandSeed = 42;
    MakeRandomOrder(a.data(), 5);
    QCOMPARE(a, (std::vector<int32_t>{5, 2, 4, 0, 3, 1}));
}

void TestRandomOrder::drawnOrderIsTenDistinctQuestions() {
    for (int32_t questions : {10, 11, 37, 500}) {
        for (uint32_t seed : fixedSeeds(300)) {
            RandSeed = seed;
            FillQuestionOrder(std::vector<bool>(size_t(questions), true));
            QCOMPARE(QuestionOrder.size(), size_t(questions) + 1);
            std::vector<int32_t> drawn(QuestionOrder.begin() + 1, QuestionOrder.end());
            std::sort(drawn.begin(), drawn.end());
            for (int32_t i = 0; i < questions; ++i)
                QCOMPARE(drawn[size_t(i)], i + 1);
        }
    }
}

void TestRandomOrder::drawnOrderUniform_data() {
    QTest::addColumn<int>("questions");
    QTest::addColumn<QList<int>>("unshowable"); // numbers of questions that cannot be shown
    QTest::newRow("10 questions") << 10 << QList<int>{};
    QTest::newRow("13 questions") << 13 << QList<int>{};
    QTest::newRow("31 questions") << 31 << QList<int>{};
    QTest::newRow("13 questions, 3 cannot be shown") << 13 << QList<int>{1, 7, 13};
}

// Over many draws every question that can be shown turns up at every one of the ten positions
// equally often, and the others never.
void TestRandomOrder::drawnOrderUniform() {
    QFETCH(int, questions);
    QFETCH(QList<int>, unshowable);
    std::vector<bool> showable(size_t(questions), true);
    for (int number : unshowable)
        showable[size_t(number - 1)] = false;
    const int trials = 30000;
    std::vector<std::vector<int>> counts(10, std::vector<int>(size_t(questions), 0));
    for (uint32_t seed : fixedSeeds(trials)) {
        RandSeed = seed;
        FillQuestionOrder(showable);
        for (int k = 1; k <= 10; ++k)
            ++counts[size_t(k - 1)][size_t(QuestionOrder[size_t(k)] - 1)];
    }
    // Never drawn; then out of the statistic, from the highest number down.
    std::sort(unshowable.begin(), unshowable.end(), std::greater<int>());
    for (int number : unshowable)
        for (auto& position : counts) {
            QCOMPARE(position[size_t(number - 1)], 0);
            position.erase(position.begin() + (number - 1));
        }
    const int drawable = questions - int(unshowable.size());
    const double chi = chiSquare(counts, trials, drawable);
    const double critical = chiSquareCritical(10 * (drawable - 1));
    qInfo("chi-square %.1f with %d degrees of freedom, critical %.1f", chi, 10 * (drawable - 1),
          critical);
    QVERIFY2(chi < critical,
             qPrintable(QStringLiteral("chi-square %1, critical %2").arg(chi).arg(critical)));
}

// The shuffle's entries read by position never put value k at position k: the statistic
// above must reject that reading, or it proves nothing.
void TestRandomOrder::readingTheCycleDirectlyIsBiased() {
    const int questions = 13;
    const int trials = 30000;
    std::vector<std::vector<int>> counts(10, std::vector<int>(size_t(questions) + 1, 0));
    std::vector<int32_t> a(size_t(questions) + 1);
    for (uint32_t seed : fixedSeeds(trials)) {
        RandSeed = seed;
        MakeRandomOrder(a.data(), questions);
        for (int k = 1; k <= 10; ++k)
            ++counts[size_t(k - 1)][size_t(a[size_t(k)])];
    }
    for (int k = 1; k <= 10; ++k)
        QCOMPARE(counts[size_t(k - 1)][size_t(k)], 0);
    const double chi = chiSquare(counts, trials, questions + 1);
    QVERIFY(chi > chiSquareCritical(10 * questions));
}

QTEST_APPLESS_MAIN(TestRandomOrder)
#include "tst_randomorder.moc"
