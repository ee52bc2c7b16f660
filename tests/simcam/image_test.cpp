// Firmware image format: what mkfirmware writes parses back, and every kind
// of damage is caught without reading outside the buffer.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "simcam/image.h"
#include "simcam_test_support.h"

namespace {

std::vector<uint8_t> build(FirmwareId id, uint32_t payload = kImagePayloadSize) {
    std::vector<uint8_t> image(kImageMaxSize);
    image.resize(imageBuild(id, payload, image.data(), image.size()));
    return image;
}

ImageStatus parse(const std::vector<uint8_t>& image, FirmwareId* id = nullptr) {
    FirmwareId ignored;
    return imageParse(image.data(), image.size(), id != nullptr ? id : &ignored);
}

TEST(FirmwareImage, ABuiltImageParsesBackToItsVersionAndRelease) {
    FirmwareId id = {0, 0};
    ASSERT_EQ(parse(build(kFirmware231), &id), kImageOk);
    EXPECT_EQ(id.version, 0x10C1u);
    EXPECT_EQ(id.release, 0x28102015u);
}

TEST(FirmwareImage, ChecksumIsTheCommonCrc32) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32(text, sizeof text), 0xCBF43926u);
}

TEST(FirmwareImage, IsOneHeaderLineAndItsPayload) {
    std::vector<uint8_t> image = build(kFirmware231);
    std::string text(image.begin(), image.end());
    ASSERT_EQ(text.size(), 39u + kImagePayloadSize);
    EXPECT_EQ(text.substr(0, 9), "KVXFWIMG ");
    EXPECT_EQ(text.substr(17, 22), " 2.3.1 28.10.2015 256\n");
    EXPECT_EQ(strtoul(text.substr(9, 8).c_str(), nullptr, 16), crc32(image.data() + 18, 21 + 256));
}

// An image whose header line is "KVXFWIMG <crc> " and rest, with the right checksum.
std::vector<uint8_t> withHeader(const std::string& rest, size_t payload = 4) {
    std::string body = rest + std::string(payload, 'p');
    char crc[9];
    snprintf(crc, sizeof crc, "%08x",
             crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    std::string text = std::string("KVXFWIMG ") + crc + " " + body;
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(FirmwareImage, EachKindOfDamageIsToldApart) {
    std::vector<uint8_t> good = build(kFirmwarePatch);
    auto with = [&good](size_t at, char c) {
        std::vector<uint8_t> image = good;
        image[at] = static_cast<uint8_t>(c);
        return parse(image);
    };
    EXPECT_EQ(with(0, 'k'), kImageBadMagic);
    EXPECT_EQ(with(100, 'x'), kImageBadChecksum);
    EXPECT_EQ(with(18, '1'), kImageBadChecksum) << "the version is covered too";
    EXPECT_EQ(with(9, 'A'), kImageBadHeader) << "the checksum in lower case only";
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014 4\n")), kImageOk);
    EXPECT_EQ(parse(withHeader("32.0.0 27.08.2014 4\n")), kImageBadHeader);
    EXPECT_EQ(parse(withHeader("0.0.0 31.02.2014 4\n")), kImageBadHeader);
    EXPECT_EQ(parse(withHeader("0.0.00 27.08.2014 4\n")), kImageBadHeader) << "one way to write";
    EXPECT_EQ(parse(withHeader("0.0.0 27.8.2014 4\n")), kImageBadHeader);
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014  4\n")), kImageBadHeader);
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014 5\n")), kImageTruncated);
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014 3\n")), kImageBadLength);
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014 65495\n", 65495)), kImageOk) << "65536 bytes";
    EXPECT_EQ(parse(withHeader("0.0.0 27.08.2014 65496\n", 65496)), kImageBadLength);
}

TEST(FirmwareImage, February29OnlyInLeapYears) {
    EXPECT_EQ(parse(build({0x10C1, 0x29022000})), kImageOk);
    EXPECT_EQ(parse(build({0x10C1, 0x29022016})), kImageOk);
    EXPECT_EQ(parse(build({0x10C1, 0x29022015})), kImageBadHeader);
    EXPECT_EQ(parse(build({0x10C1, 0x29022100})), kImageBadHeader);
}

TEST(FirmwareImage, EveryTruncationIsRejectedWithinTheBuffer) {
    std::vector<uint8_t> good = build(kFirmware231);
    for (size_t size = 0; size < good.size(); ++size) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(size));
        EXPECT_NE(parse(cut), kImageOk) << size;
    }
}

using FirmwareFiles = SimcamTest;

TEST_F(FirmwareFiles, TheWriterProducesBothImagesUnderNamesOfTheirOwn) {
    writeImages();
    FirmwareId id = {0, 0};
    std::string patch = readText(kImagePatchFile);
    ASSERT_EQ(parse(std::vector<uint8_t>(patch.begin(), patch.end()), &id), kImageOk);
    EXPECT_EQ(id.version, 0u);
    EXPECT_EQ(id.release, 0x27082014u);
    EXPECT_EQ(readText(kImage231File).size(), 39u + kImagePayloadSize);
    // Never under the maker's names, so never taken for a real image.
    EXPECT_FALSE(std::filesystem::exists(kImage231));
    EXPECT_FALSE(std::filesystem::exists(kImagePatch));
}

TEST_F(FirmwareFiles, AMakersNameIsLoadedFromTheLibrarysOwnFileOnly) {
    writeImages();
    // A real image under the maker's name beside the training files is never read.
    std::filesystem::rename(kImage231File, kImage231);
    KvxHandle camera = open();
    EXPECT_EQ(load(camera, kImage231), -1);
    std::filesystem::rename(kImage231, kImage231File);
    EXPECT_EQ(load(camera, kImage231), 0);
}

}  // namespace
