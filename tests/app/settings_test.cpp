#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/temp_dir.h"

namespace tavrel {
namespace {

using test_support::ReadText;
using test_support::TempDir;
using test_support::WriteText;

// The "key=value" lines of a settings text, in file order, with their section.
std::vector<std::string> KeyLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[') {
            section = line;
        } else if (line.find('=') != std::string::npos) {
            out.push_back(section + line);
        }
    }
    return out;
}

// A settings file in a fresh folder.
struct Scratch {
    TempDir dir;
    const SettingsFile file{dir.Path()};

    // Writes `text` as the settings file and reads it.
    Settings Load(const std::string& text) const {
        WriteText(file.SettingsPath(), text);
        Settings settings;
        file.LoadSave(settings, false);
        return settings;
    }
    // Writes `settings` and gives the file's text.
    std::string Save(Settings settings) const {
        file.LoadSave(settings, true);
        return ReadText(file.SettingsPath());
    }
};

TEST(Settings, FreshStartReadsDefaultsAndWritesEveryKeyInTableOrder) {
    const Scratch s;
    Settings settings;
    settings.network_port = 99;  // reading overwrites every field
    s.file.LoadSave(settings, false);
    EXPECT_EQ(settings, s.file.Defaults());
    EXPECT_EQ(settings.rec_autopath, s.dir.Path());
    EXPECT_FALSE(std::filesystem::exists(s.file.SettingsPath()));  // reading writes nothing

    // Section, then its keys in file order; "@" stands for the start folder.
    const std::pair<const char*, const char*> sections[] = {
        {"[Tavrel_M]",
         "HV_KELVRA_INIT=0 REC_AUTOFILENAME=0 REC_AUTOPATH=@ TIMER_PERIOD=1 "
         "THREAD_PRIORITY_REC=0 THREAD_PRIORITY_RES=0 THREAD_PRIORITY_PROC=0 LAST_EP_IN=65534 "
         "LAST_EP_OUT=65534 REC_TIME=0 NETWORK_ADDRESS=localhost NETWORK_PORT=1234 "
         "NETWORK_SEND_SIZE=32767 POS_X=-30000 POS_Y=-30000 CHWND_SHOW=0 CHWND_POS_X=-30000 "
         "CHWND_POS_Y=-30000 LAST_CHANNEL=-1 FILTWND_SHOW=0 FILTWND_POS_X=-30000 "
         "FILTWND_POS_Y=-30000 FILTWND_SIZE_X=0 FILTWND_SIZE_Y=0 SCHEDULE_SHOW=0 "
         "SCHEDULE_POS_X=-30000 SCHEDULE_POS_Y=-30000 SCHEDULE_SIZE_X=0 SCHEDULE_SIZE_Y=0 "
         "NO_REJECT_NULLPACKET=0 EXTRA_USB_IDS="},
        {"[Tavrel_M_PSI]", "DECODE_PSI=0 PROC_EPG=0 PROC_DATA=0"},
        {"[Tavrel_M_SCHEDULE]", "SCHEDULE_USE_SYSTEM_TIME=0"},
    };
    std::vector<std::string> expected;
    for (const auto& [section, keys] : sections) {
        std::istringstream words(keys);
        for (std::string key; words >> key;) {
            expected.push_back(section +
                               (key == "REC_AUTOPATH=@" ? "REC_AUTOPATH=" + s.dir.Path() : key));
        }
    }
    EXPECT_EQ(KeyLines(s.Save(settings)), expected);
    EXPECT_EQ(SettingKeys().size(), expected.size());
}

TEST(Settings, EveryFieldSurvivesAWriteAndARead) {
    const Scratch s;
    Settings written = s.file.Defaults();
    int32_t n = 1;
    for (const SettingKey& key : SettingKeys()) {
        if (const auto* member = std::get_if<int32_t Settings::*>(&key.member)) {
            written.** member = n * (n % 2 == 0 ? -7 : 13);
        } else {
            written.*std::get<std::string Settings::*>(key.member) = "value " + std::to_string(n);
        }
        ++n;
    }
    s.Save(written);
    Settings read;
    s.file.LoadSave(read, false);
    EXPECT_EQ(read, written);
}

TEST(Settings, EmptyValuesTakeTheDefaultNumbersReadAsCsAtoiClampedToThirtyTwoBits) {
    const Scratch s;
    const Settings settings = s.Load(
        "[Tavrel_M]\nNETWORK_PORT=\nTIMER_PERIOD=  \nNETWORK_ADDRESS=\nREC_AUTOPATH=\n"
        "LAST_CHANNEL=\nLAST_EP_IN=abc\nLAST_EP_OUT=12ms\nPOS_X= -250\nPOS_Y=+3\n"
        "NETWORK_SEND_SIZE=99999999999\nCHWND_POS_X=-99999999999\n");
    EXPECT_EQ(std::tuple(settings.network_port, settings.timer_period, settings.last_channel,
                         settings.network_address, settings.rec_autopath),
              std::tuple(1234, 1, -1, "localhost", s.dir.Path()));
    EXPECT_EQ(std::tuple(settings.last_ep_in, settings.last_ep_out, settings.pos_x, settings.pos_y,
                         settings.network_send_size, settings.chwnd_pos_x),
              std::tuple(0, 12, -250, 3, INT32_MAX, INT32_MIN));
}

// A file written by hand: other sections, comments and unknown keys survive a write, and
// section and key names in other letter cases are found and their lines updated in place.
TEST(Settings, HandWrittenFileKeepsItsLinesAndItsLetterCases) {
    const Scratch s;
    Settings settings = s.Load(
        "; by hand\n[Mine]\ncolour=blue\n\n[tavrel_m]\n; note\npos_x=10\nUNKNOWN_KEY=5\n"
        "Network_Address=example.test\n[TAVREL_M_PSI]\nDecode_Psi=1\n");
    EXPECT_EQ(std::tuple(settings.pos_x, settings.network_address, settings.decode_psi),
              std::tuple(10, "example.test", 1));
    settings.pos_x = 20;
    const std::string text = s.Save(settings);
    EXPECT_EQ(text.rfind("; by hand\n[Mine]\ncolour=blue\n\n[tavrel_m]\n; note\nPOS_X=20\n"
                         "UNKNOWN_KEY=5\nNETWORK_ADDRESS=example.test\n",
                         0),
              0u)
        << text;
    EXPECT_EQ(text.find("[Tavrel_M]"), std::string::npos);
    EXPECT_EQ(text.find("\nPOS_X="), text.rfind("\nPOS_X=")) << "updated, not added again";
    Settings again;
    s.file.LoadSave(again, false);
    EXPECT_EQ(again, settings);
}

TEST(Settings, BothFilesLiveInTheStartDirectory) {
    const SettingsFile file("/data/tv/");
    EXPECT_EQ(std::tuple(file.SettingsPath(), file.SchedulePath(), file.StartDirectory(),
                         file.Defaults().rec_autopath),
              std::tuple("/data/tv/tavrel.ini", "/data/tv/schedule.ini", "/data/tv", "/data/tv"));
    EXPECT_EQ(SettingsFile("/").SettingsPath(), "/tavrel.ini");
    EXPECT_EQ(SettingsFile::AtStart().StartDirectory(), std::filesystem::current_path().string());
}

}  // namespace
}  // namespace tavrel
