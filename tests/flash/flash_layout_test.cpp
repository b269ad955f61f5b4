#include <array>
#include <gtest/gtest.h>

#include "flash/flash_layout.h"

namespace {

// An application header as it sits at the base of a slot: crc, len, magic, id, most significant
// byte first.
constexpr std::array<uint8_t, 16> kStoredHeader = {0x12, 0x34, 0x56, 0x78, 0x00, 0x7F, 0xFF, 0xF0,
                                                   0x01, 0x4A, 0x41, 0x4E, 0xDE, 0xAD, 0xBE, 0xEF};

TEST(ImageHeader, DecodesTheStoredWordsMostSignificantByteFirst)
{
    const ImageHeader header = decode_image_header(kStoredHeader.data());
    EXPECT_EQ(header.crc, 0x12345678u);
    EXPECT_EQ(header.len, 0x007FFFF0u);
    EXPECT_EQ(header.magic, 0x014A414Eu);
    EXPECT_EQ(header.id, 0xDEADBEEFu);
}

TEST(ImageHeader, EncodesToTheStoredBytes)
{
    std::array<uint8_t, 16> bytes{};
    encode_image_header(ImageHeader{0x12345678, 0x007FFFF0, 0x014A414E, 0xDEADBEEF}, bytes.data());
    EXPECT_EQ(bytes, kStoredHeader);
}

struct MagicCase {
    uint32_t magic;
    bool known;
};

class ImageMagic : public testing::TestWithParam<MagicCase> {};
void PrintTo(const MagicCase& c, std::ostream* os) { *os << std::hex << c.magic; }

TEST_P(ImageMagic, IsKnownOnlyForTheSixRecordTypes)
{
    EXPECT_EQ(is_known_image_magic(GetParam().magic), GetParam().known);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ImageMagic,
    testing::Values(MagicCase{0x014A414E, true}, MagicCase{0x024A414E, true}, MagicCase{0x034A414E, true},
                    MagicCase{0x044A414E, true}, MagicCase{0x054A414E, true}, MagicCase{0x064A414E, true},
                    MagicCase{0x004A414E, false}, MagicCase{0x074A414E, false},
                    MagicCase{0x4E414A01, false},    // an application magic read in the wrong byte order
                    MagicCase{0xFFFFFFFF, false}));  // erased flash

// Where the installer puts each type, as the flash map gives it; imgtool refuses by the same table.
TEST(RecordArea, GivesEachInstalledTypeItsBaseAndLimit)
{
    struct Case {
        uint32_t magic;
        bool installed;
        uint32_t base;
        uint32_t limit;
        bool limits_payload;
    };
    for (const Case& c : {Case{0x014A414E, true, 0x00000000, 0x00800000, false},
                          {0x024A414E, true, 0x03F00000, 0x00040000, true},
                          {0x034A414E, true, 0x01E00000, 0x00100000, false},
                          {0x044A414E, true, 0x01000000, 0x00B00000, false},
                          {0x054A414E, false, 0, 0, false},
                          {0x064A414E, false, 0, 0, false},
                          {0xFFFFFFFF, false, 0, 0, false}}) {
        const RecordArea* area = record_area(c.magic);
        ASSERT_EQ(area != nullptr, c.installed) << std::hex << c.magic;
        if (!c.installed)
            continue;
        EXPECT_EQ(area->base, c.base) << std::hex << c.magic;
        EXPECT_EQ(area->limit, c.limit) << std::hex << c.magic;
        EXPECT_EQ(area->limits_payload, c.limits_payload) << std::hex << c.magic;
    }
}

}  // namespace
