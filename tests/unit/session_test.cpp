// The banners both tools open with.
#include "session/session.h"

#include <string>

#include "tests/fake/fake_camera.h"
#include "tests/unit/dialogue.h"

// The version set once, in project(VERSION), is the one a technician sees,
// inside a frame as wide as the line.
TEST(Banner, ShowsTheProjectVersionInAFrameOfItsWidth) {
    const std::string lines[] = {
        "* Zentrovique Lumivor-Q713/ORB-NX Update Tool v" Q713_PROJECT_VERSION " *\n",
        "* Zentrovique Lumivor-Q713/ORB-NX Restore Tool " Q713_PROJECT_VERSION " *\n"};
    for (Tool tool : {Tool::Update, Tool::Restore}) {
        const std::string& line = lines[tool == Tool::Update ? 0 : 1];
        const std::string frame = std::string(line.size() - 1, '*') + "\n";
        fake::reset();
        testing::internal::CaptureStdout();
        startSession(tool);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), frame + line + frame);
        EXPECT_EQ(fake::calls(), std::vector<std::string>{"initConfig"});
    }
}
