// Profile parsing: what each line sets, how bad lines are reported, and that
// a rejected profile leaves no camera answering.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "simcam/profile.h"
#include "simcam_test_support.h"

namespace {

Profile gProfile;  // too large for the stack

const Profile& parse(const std::string& text) {
    profileParse(text.data(), text.size(), &gProfile);
    return gProfile;
}

TEST(ProfileParsing, CameraSectionSetsIdentityRegistersFlashAndSequences) {
    const Profile& p = parse(
        "# comment line\r\n\n[camera]\r\n"
        "firmware = 1.4.2   # trailing comment\n"
        "release = 26.02.2013\npon = 0xabc\nserial = 0x12345\n"
        "register 300 = -1\nregister 301 = 010\nregister 26 = 0x55\nflash 27 = 9\n"
        "sequence 11 = 30000000 -12\nopen-fails = 2 -3\nopen-fails = 4 -5\n"
        "load-ms = 1500\nnever-reboots = 1\n");
    ASSERT_EQ(p.errorCount, 0u) << p.errors[0].message;
    ASSERT_EQ(p.cameraCount, 1u);
    const ProfileCamera& c = p.cameras[0];
    EXPECT_EQ(c.registers[56], 0x0902u);
    EXPECT_EQ(c.registers[2], 0x26022013u);
    EXPECT_EQ(c.registers[1], 0xABC12345u);
    EXPECT_EQ(c.registers[300], 0xFFFFFFFFu);
    EXPECT_EQ(c.registers[301], 8u) << "a leading 0 is octal, as in C";
    EXPECT_EQ(c.registers[240], 30000000u);
    EXPECT_EQ(c.registers[244], 0xFFFFFFF4u);
    EXPECT_EQ(c.flash[0], 0x55u) << "flash starts as the register unless given";
    EXPECT_EQ(c.flash[1], 9u);
    EXPECT_EQ(c.openFails, 4u) << "the later line wins";
    EXPECT_EQ(c.openFailStatus, -5);
    EXPECT_EQ(c.loadMs, 1500u);
    EXPECT_TRUE(c.neverReboots);
}

TEST(ProfileParsing, EachCameraSectionIsAnotherCameraStartingAsTheBuiltInOne) {
    ProfileCamera builtIn;
    profileDefaultCamera(&builtIn);
    const Profile& p = parse("fail-call = 12 -5\n[camera]\nserial = 1\n[camera]\nserial = 2\n");
    ASSERT_EQ(p.errorCount, 0u);
    ASSERT_EQ(p.cameraCount, 2u);
    EXPECT_EQ(p.cameras[1].registers[1] & 0xFFFFF, 2u);
    EXPECT_EQ(p.cameras[1].registers[26], builtIn.registers[26]);
    ASSERT_EQ(p.callFaultCount, 1u);
    EXPECT_EQ(p.callFaults[0].call, 12u);
}

TEST(ProfileParsing, AProfileWithoutCameraSectionsIsTheBuiltInCamera) {
    const Profile& p = parse("fail-call = 3 -5\n");
    ASSERT_EQ(p.errorCount, 0u);
    ASSERT_EQ(p.cameraCount, 1u);
    EXPECT_EQ(p.cameras[0].registers[56], 0x1000u) << "2.0.0";
}

TEST(ProfileParsing, ALoneCrEndsALineEvenAfterALeadingComment) {
    const Profile& p =
        parse("# old Mac line ends\r[camera]\rserial = 7\r\r[camera]\r\ncolour = red\r");
    ASSERT_EQ(p.errorCount, 1u);
    EXPECT_EQ(p.errors[0].line, 6u) << "CR LF is one line end, CR alone another";
    ASSERT_EQ(p.cameraCount, 2u);
    EXPECT_EQ(p.cameras[0].registers[1] & 0xFFFFF, 7u);
}

TEST(ProfileParsing, February29OnlyInLeapYears) {
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2012\n").errorCount, 0u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2000\n").errorCount, 0u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2013\n").errorCount, 1u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.1900\n").errorCount, 1u);
}

struct BadLine {
    const char* name;
    const char* line;
    const char* message;
};

class ProfileBadLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(ProfileBadLine, IsReportedWithItsLineNumber) {
    const Profile& p = parse(std::string("# a camera\n[camera]\n") + GetParam().line + "\n");
    ASSERT_EQ(p.errorCount, 1u);
    EXPECT_EQ(p.errors[0].line, 3u);
    EXPECT_NE(strstr(p.errors[0].message, GetParam().message), nullptr) << p.errors[0].message;
}

INSTANTIATE_TEST_SUITE_P(
    ProfileParsing, ProfileBadLine,
    ::testing::Values(
        BadLine{"UnknownKey", "colour = red", "unknown key 'colour'"},
        BadLine{"MalformedDecimal", "serial = 12z", "malformed number '12z'"},
        BadLine{"HexWithoutDigits", "serial = 0x", "malformed number"},
        BadLine{"SerialTooLarge", "serial = 1048576", "out of range"},
        BadLine{"RegisterBeyondTheMap", "register 1024 = 1",
                "1024 out of range (expected 0..1023)"},
        BadLine{"WordBeyond32Bits", "register 26 = 4294967296", "out of range"},
        BadLine{"SequenceBeyondTheLast", "sequence 12 = 1 2", "12 out of range (expected 0..11)"},
        BadLine{"MissingValue", "sequence 1 = 5000000", "expected 'sequence I = HZ OFFSET'"},
        BadLine{"ExtraValue", "pon = 1 2", "expected 'pon = N'"},
        BadLine{"MissingIndex", "register = 5", "expected 'register A = WORD'"},
        BadLine{"UnexpectedIndex", "pon 3 = 1", "expected 'pon = N'"},
        BadLine{"FlashOfUnprotectedRegister", "flash 40 = 1", "not kept in flash"},
        BadLine{"ZeroStatus", "read-fails = 56 0",
                "0 out of range (expected a nonzero 32-bit status)"},
        BadLine{"ShortVersion", "firmware = 2.0", "bad firmware version '2.0'"},
        BadLine{"VersionOutOfRange", "firmware = 32.0.0", "bad firmware version '32.0.0'"},
        BadLine{"ImpossibleDate", "release = 31.02.2013",
                "bad release date '31.02.2013' (expected a calendar day"},
        BadLine{"TwoDigitYear", "release = 1.2.13", "bad release date '1.2.13'"},
        BadLine{"NoEqualsSign", "just words", "expected 'key = value'"},
        BadLine{"UnknownSection", "[cameras]", "unknown section"},
        BadLine{"NegativeLoadTime", "load-ms = -5", "-5 out of range (expected 0..600000)"},
        BadLine{"NeverRebootsNotAFlag", "never-reboots = 2", "out of range (expected 0 or 1)"}),
    [](const ::testing::TestParamInfo<BadLine>& test) { return std::string(test.param.name); });

TEST(ProfileParsing, EveryBadLineIsReportedNotOnlyTheFirst) {
    std::string text = "serial = 5\n[camera]\nbad = 1\nserial = 5\nworse = 2\n";
    for (int i = 0; i < 16; ++i) {
        text += "[camera]\n";
    }
    const Profile& p = parse(text);
    ASSERT_EQ(p.errorCount, 4u);
    EXPECT_NE(strstr(p.errors[0].message, "outside a [camera] section"), nullptr);
    EXPECT_EQ(p.errors[1].line, 3u);
    EXPECT_EQ(p.errors[2].line, 5u);
    EXPECT_NE(strstr(p.errors[3].message, "more than 16 cameras"), nullptr);
}

TEST(ProfileParsing, ALineLongerThan255CharactersIsRefusedNotCut) {
    const Profile& p = parse("[camera]\nregister 26 =" + std::string(240, ' ') + "1   # fits\n" +
                             "register 27 =" + std::string(250, ' ') + "2\n");
    ASSERT_EQ(p.errorCount, 1u);
    EXPECT_EQ(p.errors[0].line, 3u);
    EXPECT_STREQ(p.errors[0].message, "line longer than 255 characters");
    EXPECT_EQ(p.cameras[0].registers[26], 1u);
}

TEST(ProfileParsing, NoPrefixOfAProfileIsReadPastItsEnd) {
    std::string text = readText(SIMCAM_PROFILE_DIR "/demo.txt") + "fail-call = 0x";
    for (size_t size = 0; size <= text.size(); ++size) {
        std::vector<char> exact(text.begin(), text.begin() + static_cast<long>(size));
        profileParse(exact.data(), exact.size(), &gProfile);  // the sanitizer build checks reads
    }
    EXPECT_GT(gProfile.errorCount, 0u) << "the cut-off hex number at the end";
}

struct Sample {
    const char* name;
    const char* file;
    uint32_t cameras;
    uint32_t lastVersion;
    uint32_t lastRelease;
};

class SampleProfile : public ::testing::TestWithParam<Sample> {};

TEST_P(SampleProfile, ParsesCleanlyIntoTheCamerasItsNamePromises) {
    std::string text = readText(std::string(SIMCAM_PROFILE_DIR "/") + GetParam().file);
    const Profile& p = parse(text);
    ASSERT_EQ(p.errorCount, 0u) << p.errors[0].line << ": " << p.errors[0].message;
    ASSERT_EQ(p.cameraCount, GetParam().cameras);
    EXPECT_EQ(p.cameras[p.cameraCount - 1].registers[56], GetParam().lastVersion);
    EXPECT_EQ(p.cameras[p.cameraCount - 1].registers[2], GetParam().lastRelease);
}

INSTANTIATE_TEST_SUITE_P(
    ProfileParsing, SampleProfile,
    ::testing::Values(Sample{"Fw200", "fw200.txt", 1, 0x1000, 0x14112013},
                      Sample{"Fw142", "fw142-20130226.txt", 1, 0x0902, 0x26022013},
                      Sample{"Fw231", "fw231.txt", 1, 0x10C1, 0x28102015},
                      Sample{"Demo", "demo.txt", 3, 0x10C1, 0x28102015}),
    [](const ::testing::TestParamInfo<Sample>& test) { return std::string(test.param.name); });

using ProfileLoading = SimcamTest;

TEST_F(ProfileLoading, ABadLineIsReportedAsFileAndLineAndNoCameraAnswers) {
    useProfile("[camera]\nserial = 5\ncolour = red\n");
    ::testing::internal::CaptureStderr();
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("profile.txt:3: unknown key 'colour'\n"), std::string::npos) << errors;
    EXPECT_EQ(tryOpen(&handle), -100) << "every open fails, not just the first";
}

TEST_F(ProfileLoading, AMissingProfileIsReportedWithoutALineAndNoCameraAnswers) {
    useProfile("");
    std::filesystem::remove(folder_ / "profile.txt");
    ::testing::internal::CaptureStderr();
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("profile.txt: no such file\n", 0), 0u) << errors;
}

TEST_F(ProfileLoading, AProfileOver64KiBIsRefusedWithTheLimitNamed) {
    std::string exact = "[camera]\nserial = 5\n";
    exact += std::string(65536 - exact.size() - 1, '#') + "\n";
    useProfile(exact);
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), 0) << "65536 bytes is still a profile";
    simReset();
    useProfile(exact + "\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        errors.rfind("profile.txt: larger than 65536 bytes, the most a profile may hold\n", 0), 0u)
        << errors;
}

// A fifo would block the open until a writer came; the alarm turns a hang into a failure.
TEST_F(ProfileLoading, AnythingButARegularFileIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    std::filesystem::create_directory("folder");
    for (const char* name : {"fifo", "folder"}) {
        simReset();
        setenv("KVX_SIM_CAMERA", name, 1);
        EXPECT_EXIT(
            {
                alarm(5);
                KvxHandle handle = nullptr;
                bool refused = tryOpen(&handle) == -100 && tryOpen(&handle) == -100;
                exit(refused ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), std::string(name) + ": not a regular file\n");
    }
}

}  // namespace
