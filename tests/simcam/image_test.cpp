// Firmware image format: what mkfirmware writes parses back, and every kind
// of damage is caught without reading outside the buffer.
#include <stdint.h>

#include <vector>

#include "simcam/image.h"
#include "simcam_test_support.h"

namespace {

std::vector<uint8_t> build(FirmwareId id) {
    std::vector<uint8_t> image(kImageMaxSize);
    image.resize(imageBuild(id, kImagePayloadSize, image.data(), image.size()));
    return image;
}

ImageStatus parse(const std::vector<uint8_t>& image, FirmwareId* id = nullptr) {
    FirmwareId ignored;
    return imageParse(image.data(), image.size(), id != nullptr ? id : &ignored);
}

TEST(FirmwareImage, a_built_image_parses_back_to_its_version_and_release) {
    FirmwareId id = {0, 0};
    ASSERT_EQ(parse(build(kFirmware231), &id), kImageOk);
    EXPECT_EQ(id.version, 0x10C1u);
    EXPECT_EQ(id.release, 0x28102015u);
}

TEST(FirmwareImage, checksum_is_the_common_crc32) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32(text, sizeof text), 0xCBF43926u);
}

TEST(FirmwareImage, each_kind_of_damage_is_told_apart) {
    std::vector<uint8_t> good = build(kFirmwarePatch);
    std::vector<uint8_t> image = good;
    image[0] ^= 1;
    EXPECT_EQ(parse(image), kImageBadMagic);
    image = good;
    image[100] ^= 0x40;
    EXPECT_EQ(parse(image), kImageBadChecksum);
    image = good;
    image[11] = 1;
    EXPECT_EQ(parse(image), kImageBadHeader);
    image = good;
    image.push_back(0);
    EXPECT_EQ(parse(image), kImageBadLength);
    image = good;
    image[19] = 0xFF;  // payload length far beyond any image
    EXPECT_EQ(parse(image), kImageBadLength);
}

TEST(FirmwareImage, february_29_only_in_leap_years) {
    EXPECT_EQ(parse(build({0x10C1, 0x29022000})), kImageOk);
    EXPECT_EQ(parse(build({0x10C1, 0x29022016})), kImageOk);
    EXPECT_EQ(parse(build({0x10C1, 0x29022015})), kImageBadHeader);
    EXPECT_EQ(parse(build({0x10C1, 0x29022100})), kImageBadHeader);
}

TEST(FirmwareImage, every_truncation_is_rejected_within_the_buffer) {
    std::vector<uint8_t> good = build(kFirmware231);
    for (size_t size = 0; size < good.size(); ++size) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(size));
        EXPECT_NE(parse(cut), kImageOk) << size;
    }
}

using FirmwareFiles = SimcamTest;

TEST_F(FirmwareFiles, the_writer_produces_both_images_under_their_release_names) {
    writeImages();
    FirmwareId id = {0, 0};
    std::string patch = readText(kImagePatch);
    ASSERT_EQ(parse(std::vector<uint8_t>(patch.begin(), patch.end()), &id), kImageOk);
    EXPECT_EQ(id.version, 0u);
    EXPECT_EQ(id.release, 0x27082014u);
    EXPECT_EQ(readText(kImage231).size(), 24u + kImagePayloadSize);
}

}  // namespace
