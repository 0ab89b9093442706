// The motion state, the input rules and the display table, without a window.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "console/display_table.h"
#include "console/module1_torre.h"
#include "tests/support/fake_serial_control.h"

namespace varnel::test {
namespace {

struct Torre : ::testing::Test {
    FakeSerialControl fake;
    InterfaceLink link{[this]() -> SerialControl& { return fake; }};
    Module1_Torre torre{link};
};

TEST_F(Torre, MoverTorreSendsTheValueAndReturnsTheHandshakeResult) {
    EXPECT_FALSE(torre.MoverTorre(0)) << "no board found yet";
    EXPECT_TRUE(fake.trace().empty());
    fake.answer(bytes({0xF0}));
    ASSERT_EQ(link.Conectar(), 1);
    fake.clearTrace();
    for (int i = 0; i < 2; ++i) {  // the same value twice is two whole handshakes
        fake.answer(bytes({0xF0}));
        fake.answer(bytes({0xF0}));
        EXPECT_TRUE(torre.MoverTorre(51));
    }
    EXPECT_EQ(hex(fake.written()), "AA 33 AA 33");
    fake.clearTrace();
    for (long outside : {-1L, 256L, 65536L + 35, -65536L})
        EXPECT_FALSE(torre.MoverTorre(outside)) << outside;
    EXPECT_TRUE(fake.written().empty()) << "a value that does not fit is never wrapped into range";
}

TEST_F(Torre, NinePairsGiveNineDistinctCommandValues) {
    std::set<int> values;
    for (int16_t giro : {0, 1, 17})
        for (int16_t rampa : {0, 2, 34}) {
            torre.Giro = giro;
            torre.Rampa = rampa;
            values.insert(torre.Orden());
            EXPECT_EQ(torre.Orden(), giro | rampa);
        }
    EXPECT_EQ(values, (std::set<int>{0, 1, 2, 3, 17, 19, 34, 35, 51}));
}

struct RuleCase {
    int16_t value;
    int16_t giro;  // -1: unchanged
    int16_t rampa;
};

TEST_F(Torre, InputRulesTable) {
    const RuleCase cases[] = {
        {1, 1, -1},    {2, 17, -1},  {4, -1, 2},    {8, -1, 34},   {5, 1, 34},         {9, 1, 2},
        {6, 17, 34},   {10, 17, 2},  {3, 0, 0},     {7, 0, 0},     {11, 0, 0},         {12, 0, 0},
        {13, 0, 0},    {14, 0, 0},   {15, 0, 0},    {0, -1, -1},   {16, -1, -1},       {17, -1, -1},
        {255, -1, -1}, {-1, -1, -1}, {-15, -1, -1}, {256, -1, -1}, {INT16_MIN, -1, -1}};
    // Each case starts from two different states so that "unchanged" is really seen.
    for (const RuleCase& c : cases) {
        for (auto [giro, rampa] : {std::pair<int16_t, int16_t>{17, 2}, {1, 34}}) {
            torre.Giro = giro;
            torre.Rampa = rampa;
            AplicarEntradas(torre, c.value);
            EXPECT_EQ(torre.Giro, c.giro < 0 ? giro : c.giro) << "value " << c.value;
            EXPECT_EQ(torre.Rampa, c.rampa < 0 ? rampa : c.rampa) << "value " << c.value;
        }
    }
    EXPECT_TRUE(fake.trace().empty()) << "the rules send nothing";
}

TEST(DisplayTable, EveryPairOnceAndCaptionsNameTheNextPress) {
    std::set<std::string> pictures;
    for (int16_t giro : {0, 1, 17})
        for (int16_t rampa : {0, 2, 34}) {
            const DisplayRow* row = findDisplayRow(giro, rampa);
            ASSERT_NE(row, nullptr);
            pictures.insert(row->picture);
            EXPECT_STREQ(row->command3, giro == 17 ? "Parar Giro" : "Girar Izquierda");
            EXPECT_STREQ(row->command4, giro == 1 ? "Parar Giro" : "Girar Derecha");
            EXPECT_STREQ(row->command1, rampa == 34 ? "Parar Rampa" : "Subir Rampa");
            EXPECT_STREQ(row->command2, rampa == 2 ? "Parar Rampa" : "Bajar Rampa");
            const std::string expected = std::string("\\") +
                                         (giro == 17  ? "izq"
                                          : giro == 1 ? "dcha"
                                                      : "") +
                                         (rampa == 34  ? "arr"
                                          : rampa == 2 ? "abj"
                                                       : "");
            EXPECT_EQ(row->picture, (expected == "\\" ? "\\torre" : expected) + ".jpg");
        }
    EXPECT_EQ(pictures.size(), 9u);
    EXPECT_EQ(findDisplayRow(18, 0), nullptr);
    EXPECT_EQ(findDisplayRow(0, 3), nullptr);
    EXPECT_EQ(findDisplayRow(-1, -1), nullptr);
}

}  // namespace
}  // namespace varnel::test
