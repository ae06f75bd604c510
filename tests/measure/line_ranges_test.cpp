#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "measure/LineRanges.h"

using namespace tc::measure;

namespace {

using Store = std::array<std::uint8_t, RawStoreSize>;

void putWord(Store& store, std::size_t offset, std::uint16_t value) {
    store[offset] = std::uint8_t(value & 0xFF);
    store[offset + 1] = std::uint8_t(value >> 8);
}

// A store as the controller sends it: slot numbers in each head, counts and reference in
// block 0, then minima and gain codes per line.
Store makeStore(std::uint8_t rows, std::uint8_t columns, std::uint16_t reference) {
    Store store{};
    for (std::size_t slot = 0; slot < RawSlotCount; ++slot) {
        store[slot * RawSlotSize + 4] = std::uint8_t(slot);
    }
    store[RowCountOffset] = rows;
    store[ColumnCountOffset] = columns;
    putWord(store, ReferenceOffset, reference);
    return store;
}

TEST(LineTexts, FormatsOfTheLineBoxes) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {ResetRowText(3), "Row  3:0x0FFF-0x0000"},
        {ResetColumnText(12), "Col 12:0x0FFF-0x0000"},
        {RowRangeText(3, 0x0123, 0x0F00), "Rol  3:0x0123-0x0F00"},
        {RowRangeText(0, 0, 0xFFFF), "Rol  0:0x0000-0xFFFF"},
        {ColumnRangeText(12, 0xABCD, 0x00C8), "Col 12:0xABCD-0x00C8"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(LineRanges, ResetMarksTheLinesInUseAndKeepsTheRest) {
    LineRanges r;
    r.AdcReference = 3000;
    r.RowMin.fill(5);
    r.RowMax.fill(6);
    r.RowGain.fill(7);
    r.RowMinSeen.fill(true);
    r.RowMaxSeen.fill(true);
    r.ColMin.fill(5);
    r.ColMinSeen.fill(true);
    const LineTexts texts = ResetLineRanges(r, 2, 1);
    EXPECT_EQ(texts.rows,
              (std::vector<std::string>{"Row  0:0x0FFF-0x0000", "Row  1:0x0FFF-0x0000"}));
    EXPECT_EQ(texts.columns, (std::vector<std::string>{"Col  0:0x0FFF-0x0000"}));
    EXPECT_EQ(r.RowMin[1], 0x0FFF);
    EXPECT_EQ(r.RowMax[1], 0);
    EXPECT_FALSE(r.RowMinSeen[1] || r.RowMaxSeen[1] || r.ColMinSeen[0]);
    EXPECT_EQ(r.ColMin[0], 0x0FFF);
    // Gains, the reference and lines beyond the counts are not the reset's business.
    EXPECT_EQ(r.RowGain[0], 7);
    EXPECT_EQ(r.AdcReference, 3000);
    EXPECT_EQ(r.RowMin[2], 5);
    EXPECT_TRUE(r.RowMinSeen[2] && r.ColMinSeen[1]);
    // Counts beyond the record are cut to it.
    EXPECT_EQ(ResetLineRanges(r, 99, -1).rows.size(), 30u);
}

TEST(AdcFullScale, IsTheReferencePlusHeadRoomAndNeverZero) {
    EXPECT_EQ(AdcFullScale(3000), 3248);
    for (std::uint32_t ref = 0; ref <= 0xFFFF; ++ref) {
        const std::uint32_t expected = ref <= 65287 ? ref + 248 : 0xFFFF;
        ASSERT_EQ(AdcFullScale(std::uint16_t(ref)), expected) << ref;
    }
}

TEST(AdcFullScale, ScalingGuardsAZeroScale) {
    EXPECT_EQ(ScaleToExtent(2048, 466, 4096), 233);
    EXPECT_EQ(ScaleToExtent(4096, 537, 4096), 537);
    EXPECT_EQ(ScaleToExtent(0xFFFF, 466, 1), 466 * 65535);
    EXPECT_EQ(ScaleToExtent(2048, 466, 0), 0);
}

TEST(GainCode, MaximaOfStoredCodes) {
    struct Case {
        std::uint16_t min, code, reference, max;
    };
    const Case cases[] = {
        {200, 0, 3000, 3200},    {200, 0x8000, 3000, 6200},  // code 0: divisor 65536
        {0, 0, 3000, 3000},      {0, 0, 65535, 65535},       // the default table
        {0, 0x7FFF, 3000, 6000}, {0, 0x7FFE, 3000, 2000},    // either side of 0x7FFF
        {0, 0xFFFF, 3000, 3000}, {100, 0x4000, 3000, 2500},  // 3000 * 65536 / 81920
        {500, 0x1234, 0, 500},                               // no reference, no span
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaxFromGainCode(c.min, c.code, c.reference), c.max)
            << c.min << " " << c.code << " " << c.reference;
    }
}

TEST(GainCode, CodesOfMeasuredRanges) {
    struct Case {
        std::uint16_t min, max, reference, code;
    };
    const Case cases[] = {
        {0, 3000, 3000, 0},
        {0, 65535, 65535, 0},  // span R: divisor 65536
        {0, 1, 1, 0},
        {100, 6100, 3000, 0x8000},
        {100, 3099, 3000, 21},
        {100, 2101, 3000, 0x7FCE},
        // Beyond the codes' band: the nearest end rather than a wrapped code.
        {100, 6101, 3000, 0x7FFF},
        {100, 9000, 3000, 0x7FFF},
        {100, 2100, 3000, 0x7FFE},
        {750, 2250, 3000, 0x7FFE},
        // No span at all.
        {100, 100, 3000, 0x7FFE},
        {2000, 100, 3000, 0x7FFE},
        {0, 0, 0, 0x7FFE},
        {0, 500, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GainCodeFromRange(c.min, c.max, c.reference), c.code)
            << c.min << " " << c.max << " " << c.reference;
    }
}

TEST(GainCode, EveryCarriedSpanReadsBackWithinOne) {
    for (const std::uint16_t reference : {1000, 3000, 4095}) {
        const int minSpan = reference * 65536 / 98302 + 1;
        const int maxSpan = reference * 65536 / 32767;
        for (int span = minSpan; span <= maxSpan; ++span) {
            const std::uint16_t max = std::uint16_t(100 + span);
            const std::uint16_t code = GainCodeFromRange(100, max, reference);
            const int back = MaxFromGainCode(100, code, reference);
            ASSERT_LE(std::abs(back - max), 1) << reference << " " << span << " " << code;
        }
    }
}

TEST(RawDecode, SixteenRowsTwelveColumns) {
    Store store = makeStore(16, 12, 3000);
    for (int i = 0; i < 16; ++i) {
        putWord(store, RowMinOffset + 2 * i, std::uint16_t(200 + i));
        putWord(store, RowGainOffset + 2 * i, 0);
    }
    for (int j = 0; j < 12; ++j) {
        putWord(store, ColMinOffset + 2 * j, std::uint16_t(300 + j));
        putWord(store, ColGainOffset + 2 * j, 0x8000);
    }
    EXPECT_EQ(store[7], 0xC8);
    LineRanges r;
    r.RowMin[16] = 1234;  // a line beyond the counts
    const RawDecodeResult out = DecodeRawBlocks(store, r);
    EXPECT_EQ(out.RowCount, 16);
    EXPECT_EQ(out.ColumnCount, 12);
    EXPECT_EQ(r.AdcReference, 3000);
    EXPECT_EQ(out.AdcFullScale, 3248);
    EXPECT_TRUE(out.log.empty());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(r.RowMin[i], 200 + i);
        EXPECT_EQ(r.RowGain[i], 0);
        EXPECT_EQ(r.RowMax[i], 3200 + i);
        EXPECT_TRUE(r.RowMinSeen[i] && r.RowMaxSeen[i]);
    }
    for (int j = 0; j < 12; ++j) {
        EXPECT_EQ(r.ColMin[j], 300 + j);
        EXPECT_EQ(r.ColGain[j], 0x8000);
        EXPECT_EQ(r.ColMax[j], 6300 + j);
        EXPECT_TRUE(r.ColMinSeen[j] && r.ColMaxSeen[j]);
    }
    EXPECT_EQ(r.RowMin[16], 1234);
    EXPECT_FALSE(r.RowMinSeen[16] || r.ColMaxSeen[12]);
    EXPECT_EQ(out.rangeTest.result, RangeTestPassed);
}

TEST(RawDecode, CountsBeyondABlockAreCutAndLogged) {
    Store store = makeStore(31, 29, 3000);
    putWord(store, RowMinOffset + 2 * 27, 111);  // the last value of block 0
    putWord(store, ColGainOffset + 2 * 27, 0);   // the last value of the store
    putWord(store, ColMinOffset + 2 * 27, 222);
    LineRanges r;
    const RawDecodeResult out = DecodeRawBlocks(store, r);
    EXPECT_EQ(out.RowCount, 28);
    EXPECT_EQ(out.ColumnCount, 28);
    ASSERT_EQ(out.log.size(), 2u);
    EXPECT_NE(out.log[0].find("Row Number 31"), std::string::npos) << out.log[0];
    EXPECT_NE(out.log[1].find("Column Number 29"), std::string::npos) << out.log[1];
    EXPECT_EQ(r.RowMin[27], 111);
    EXPECT_EQ(r.ColMax[27], 222 + 3000);
    EXPECT_FALSE(r.RowMinSeen[28]);
}

TEST(RawDecode, AShortStoreReadsAsZero) {
    const std::vector<std::uint8_t> head = {0, 0, 2, 1, 0, 0xB8, 0x0B, 0xC8};
    LineRanges r;
    const RawDecodeResult out = DecodeRawBlocks(head, r);
    EXPECT_EQ(out.RowCount, 2);
    EXPECT_EQ(r.AdcReference, 3000);
    EXPECT_EQ(r.RowMin[0], 200);  // high byte beyond the span
    EXPECT_EQ(r.RowMin[1], 0);
    EXPECT_EQ(r.ColMax[0], 3000);
    EXPECT_TRUE(DecodeRawBlocks({}, r).log.empty());
}

}  // namespace
