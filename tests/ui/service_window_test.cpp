// The service window's core driven as the processing thread and the UI thread drive it: rows,
// cells and tips from the handlers, the filter's lists, the programmes on air and the popup
// commands.
#include "ui/service_window_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "app/settings.h"
#include "platform/temp_dir.h"
#include "platform/text_encoding.h"
#include "reservation/reservation_fixture.h"
#include "ui/programme_records.h"
#include "ui/service_texts.h"

namespace tavrel {
namespace {

using testing::At;
using testing::kSaturday;
using testing::Programme;
using FilterCall = std::pair<std::vector<uint16_t>, std::vector<uint16_t>>;  // services, PIDs
// A reservation request as asked: by event, network, stream, service, event, start, length, name.
using ReservationCall =
    std::tuple<bool, uint16_t, uint16_t, uint16_t, uint16_t, MjdTime, uint32_t, std::string>;

struct RecordingReservations final : ReservationRequests {
    std::vector<ReservationCall> calls;

    int RequestDateReservation(uint16_t service_id, const MjdTime& start, uint32_t duration,
                               std::string_view name) override {
        calls.emplace_back(false, 0, 0, service_id, 0, start, duration, ShiftJisToUtf8(name));
        return 1;
    }
    int RequestEventReservation(uint16_t network_id, uint16_t stream_id, uint16_t service_id,
                                uint16_t event_id, std::string_view name) override {
        calls.emplace_back(true, network_id, stream_id, service_id, event_id, MjdTime{}, 0,
                           ShiftJisToUtf8(name));
        return 1;
    }
};

std::vector<StreamEntry> Streams(std::initializer_list<uint16_t> pids) {
    std::vector<StreamEntry> streams;
    for (uint16_t pid : pids) {
        streams.push_back({0x02, 0, pid});
    }
    return streams;
}
using Texts = std::vector<std::string>;

class ServiceWindowTest : public ::testing::Test {
protected:
    ServiceWindowTest() {
        ServiceWindowQueries queries;
        queries.filter = [this](std::span<const uint16_t> services,
                                std::span<const uint16_t> pids) {
            filters.push_back({{services.begin(), services.end()}, {pids.begin(), pids.end()}});
        };
        queries.service_name = [](uint16_t id, std::span<char> name) {
            const std::string sjis = Utf8ToShiftJis("局" + std::to_string(id));
            std::copy(sjis.begin(), sjis.end(), name.begin());
            return 1;
        };
        queries.write_resources = [this](const std::string& folder, uint16_t pid) {
            written_pids.push_back(pid);
            if (pid != carousel_pid) {
                return 0;
            }
            std::filesystem::create_directories(folder + "/40");
            test_support::WriteText(folder + "/40/0000.png", "png");
            return 1;
        };
        window.SetQueries(queries);
        window.SetReservationRequests(&reservations);
        window.SetProcessingSwitches(true, true);
        window.SetCaptureState(true);
    }

    // Three services as a PAT, PMTs and an SDT announce them.
    void AddServices() {
        const uint16_t ids[] = {101, 102, 103};
        for (uint16_t i = 0; i < 3; ++i) {
            window.OnProgramme(ids[i], static_cast<uint16_t>(0x1F0 + i));
            window.OnServiceName(ids[i], Utf8ToShiftJis("サービス" + std::to_string(i)));
        }
        window.OnStreams(101, Streams({0x111, 0x112, 0x140}));
        window.OnStreams(102, Streams({0x211, 0x112}));  // shares 0x112 with 101
        window.OnStreams(103, Streams({0x311}));
        ui.Drain();
    }

    Texts Column(size_t column) const {
        Texts cells;
        for (const ServiceListItem& item : window.ServiceItems()) {
            cells.push_back(item.cells[column]);
        }
        return cells;
    }

    QueuedUiThread ui;
    testing::ScriptedUi dialogs;
    FakeClock clock;
    RecordingReservations reservations;
    std::vector<FilterCall> filters;
    std::vector<uint16_t> written_pids;
    uint16_t carousel_pid = 0x140;
    CServiceWindow window{ui, dialogs, clock};
};

TEST_F(ServiceWindowTest, RowsCarryIdNamePmtAndStreamsThePidListIsTheWholeLatestPmt) {
    AddServices();
    EXPECT_EQ(Column(kColumnServiceId), (Texts{"101", "102", "103"}));
    EXPECT_EQ(Column(kColumnChannelName), (Texts{"サービス0", "サービス1", "サービス2"}));
    EXPECT_EQ(Column(kColumnStreams)[1], "0x0211(m2v) 0x0112(m2v) ");
    EXPECT_TRUE(std::ranges::all_of(window.ServiceItems(), &ServiceListItem::checked));
    // A second PAT entry for a known service neither adds a row nor changes its PMT column.
    window.OnProgramme(102, 0x0999);
    ui.Drain();
    EXPECT_EQ(Column(kColumnPmt), (Texts{"0x01F0", "0x01F1", "0x01F2"}));
    EXPECT_EQ(window.Service(103)->row_index, 2);

    std::vector<StreamEntry> many;
    for (uint16_t i = 0; i <= 20; ++i) {
        many.push_back({0x0F, 0, static_cast<uint16_t>(0x500 + i % 20)});  // 0x500 twice
    }
    window.OnStreams(103, many);
    ui.Drain();
    EXPECT_EQ(Column(kColumnStreams)[2].substr(16 * 12), "...");
    window.SetRowChecked(2, false);
    window.PressFilterButton();
    // Also the four cut from the column, each once.
    EXPECT_EQ(std::tuple(filters.back().second.size(), filters.back().second.back()),
              std::tuple(20u, 0x513));
    window.PressFilterButton();
    test_support::TempDir dir;
    dialogs.folder = dir.Path();
    window.RunCommand(kCommandDataBroadcast, 2);
    EXPECT_EQ(written_pids.size(), 20u);

    window.OnStreams(103, Streams({0x311, 0x312}));  // a new version replaces the list
    EXPECT_EQ(window.Service(103)->pids, (std::vector<uint16_t>{0x311, 0x312}));
}

TEST_F(ServiceWindowTest, FilterDropsUncheckedServicesAndTheirOwnPids) {
    AddServices();
    const struct {
        std::vector<size_t> unchecked;
        FilterCall expected;
    } cases[] = {
        {{}, {{}, {}}},                                 // every row kept: empty lists
        {{0}, {{101}, {0x111, 0x140}}},                 // 0x112 is shared with a kept service
        {{2, 0}, {{101, 103}, {0x111, 0x140, 0x311}}},  // ascending
        {{0, 1, 2}, {{101, 102, 103}, {0x111, 0x112, 0x140, 0x211, 0x311}}},
    };
    for (const auto& c : cases) {
        auto kept = [&](size_t row) {
            return std::ranges::find(c.unchecked, row) == c.unchecked.end();
        };
        for (size_t row = 0; row < 3; ++row) {
            window.SetRowChecked(row, kept(row));
        }
        filters.clear();
        window.PressFilterButton();
        EXPECT_TRUE(window.FilterActive());
        EXPECT_FALSE(window.Controls().service_list_enabled);
        window.SetRowChecked(0, !kept(0));  // the list is disabled: ignored
        EXPECT_EQ(window.ServiceItems()[0].checked, kept(0));
        window.PressFilterButton();  // off again: a call with empty lists
        EXPECT_EQ(filters, (std::vector<FilterCall>{c.expected, {}}));
        EXPECT_TRUE(window.Controls().service_list_enabled);
    }
}

TEST_F(ServiceWindowTest, FilterCallbackRunsWithoutTheWindowLock) {
    AddServices();
    ServiceWindowQueries queries;
    queries.filter = [this](std::span<const uint16_t>, std::span<const uint16_t>) {
        // The processing thread must be able to deliver while the filter is applied.
        std::thread handler([this] { window.OnProgramme(104, 0x1F4); });
        handler.join();
    };
    window.SetQueries(queries);
    window.PressFilterButton();
    EXPECT_TRUE(window.Service(104).has_value());
}

TEST_F(ServiceWindowTest, ProgrammesOnAirTheirTipsAndReservations) {
    window.SetVisible(true);
    AddServices();
    window.OnEventRecord(Programme(101, 1, At(kSaturday, 19, 0), 54 * 60, "ニュース"), 101, true);
    window.OnEventRecord(Programme(101, 2, At(kSaturday, 19, 54), 36 * 60, "天気"), 101, true);
    window.OnEventRecord(Programme(102, 7, At(kSaturday, 19, 0), kUndefinedDuration, "中継"), 102,
                         false);
    window.OnEventRecord(Programme(102, 8, At(kSaturday, 21, 0), 3600, "映画"), 102, false);
    ui.Drain();
    window.OnBroadcastTime(At(kSaturday, 19, 10));

    EXPECT_EQ(Column(kColumnProgramme),
              (Texts{"19:00 - 19:54 ニュース", "19:00 - 未定  中継", ""}));
    EXPECT_EQ(*window.ServiceRowTip(0),
              "サービス0(101)\n\n現在の番組>> 2008/03/15(土) 19:00 - 19:54\nニュース\n"
              "\n\n次の番組>> 2008/03/15(土) 19:54 - 20:30\n天気\n");
    EXPECT_EQ(window.Service(102)->programmes.next.start.mjd, 0u);  // open end: no next
    EXPECT_EQ(*window.ServiceRowTip(2), "サービス2(103)");
    EXPECT_FALSE(window.ServiceRowTip(3));

    // The guide list: sorted by service id, '*' from the first event only, names asked for.
    const std::vector<GuideListItem> guide = window.GuideItems();
    ASSERT_EQ(guide.size(), 2u);
    EXPECT_EQ(
        std::tuple(guide[0].cells[0], guide[1].cells[0], guide[1].cells[1], guide[0].cells[2]),
        std::tuple("101*", "102", "局102", "19:00 - 19:54 ニュース"));
    EXPECT_EQ(window.GuideRowTip(1)->rfind("局102(102)\n\n現在の番組>> 2008/03/15(土) 19:00", 0),
              0u);

    // The popup reserves the row's programmes: current by date, next by event.
    window.RunCommand(kCommandDateReserveCurrent, 0);
    window.RunCommand(kCommandEventReserveNext, 0);
    window.RunCommand(kCommandDateReserveNext, 1);      // no next programme: nothing
    window.RunCommand(kCommandEventReserveCurrent, 2);  // no programme at all: nothing
    window.RunCommand(kCommandDateReserveCurrent, {});  // no selection: nothing
    EXPECT_EQ(reservations.calls, (std::vector<ReservationCall>{
                                      {false, 0, 0, 101, 0, At(kSaturday, 19, 0), 3240, "ニュース"},
                                      {true, 0, 0, 101, 2, {}, 0, "天気"}}));

    // After the news no programme runs until the weather: cleared, then shown again.
    window.OnBroadcastTime(At(kSaturday, 20, 40));
    EXPECT_EQ(Column(kColumnProgramme)[0], "");
    EXPECT_EQ(*window.ServiceRowTip(0), "サービス0(101)");
    window.OnBroadcastTime(At(kSaturday, 19, 10));
    EXPECT_EQ(Column(kColumnProgramme)[0], "19:00 - 19:54 ニュース");
    EXPECT_FALSE(window.Service(101)->programmes.next_tip.empty());
    // The current end withdrawn: no next; announced again: the next returns.
    const MjdTime seven = At(kSaturday, 19, 0);
    window.OnEventRecord(Programme(101, 1, seven, kUndefinedDuration, "ニュース", 1), 101, true);
    window.OnBroadcastTime(At(kSaturday, 19, 11));
    EXPECT_TRUE(window.Service(101)->programmes.next_tip.empty());
    window.OnEventRecord(Programme(101, 1, seven, 54 * 60, "ニュース", 2), 101, true);
    window.OnBroadcastTime(At(kSaturday, 19, 12));
    EXPECT_NE(window.Service(101)->programmes.next_tip.find("天気"), std::string::npos);
}

TEST_F(ServiceWindowTest, HiddenWindowKeepsNoGuideRowsANewStreamEmptiesAllAndEndsTheFilter) {
    AddServices();
    window.OnEventRecord(Programme(101, 1, At(kSaturday, 19, 0), 600, "a"), 101, true);
    window.SetVisible(true);
    window.OnEventRecord(Programme(102, 1, At(kSaturday, 19, 0), 600, "b"), 102, true);
    ui.Drain();
    EXPECT_EQ(window.Events().EventCount(), 2u);
    EXPECT_FALSE(window.Guide(101));
    ASSERT_EQ(window.GuideItems().size(), 1u);
    EXPECT_EQ(window.GuideItems()[0].service_id, 102);

    window.PressFilterButton();
    window.OnStreamReset();
    window.OnProgramme(201, 0x1F0);  // the new stream's first service
    ui.Drain();
    EXPECT_FALSE(window.FilterActive());
    EXPECT_TRUE(filters.back().first.empty());
    EXPECT_EQ(std::tuple(window.Events().EventCount(), window.GuideItems().size(),
                         window.ServiceItems().size(), window.Service(201)->row_index),
              std::tuple(0u, 0u, 1u, 0));
}

TEST_F(ServiceWindowTest, GuideReservesTheChosenProgramme) {
    AddServices();
    for (uint16_t i = 0; i < 5; ++i) {  // arriving out of order
        const uint16_t id = static_cast<uint16_t>(10 - i);
        window.OnEventRecord(
            Programme(101, id, At(kSaturday + id, 20, 0), 1800, "回" + std::to_string(id)), 101,
            true);
    }
    std::vector<std::string> shown;
    int answer = 2;
    window.SetGuideDialog([&](const ProgrammeGuide& guide) {
        shown = guide.Lines();
        return answer;
    });
    EXPECT_EQ(window.RunCommand(kCommandGuide, 0), 1);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0], "2008/03/21(金) 20:00-20:30 [0x0006] 回6");  // sorted by start
    EXPECT_EQ(reservations.calls,
              (std::vector<ReservationCall>{{true, 0, 0, 101, 8, MjdTime{}, 0, "回8"}}));

    answer = kGuideClosed;
    EXPECT_EQ(window.RunCommand(kCommandGuide, 0), 0);
    EXPECT_EQ(reservations.calls.size(), 1u);
    shown.clear();
    EXPECT_EQ(window.RunCommand(kCommandGuide, 1), 0);  // no programmes: no dialog
    window.SetProcessingSwitches(false, false);
    EXPECT_FALSE(window.CommandEnabled(kCommandGuide));
    EXPECT_EQ(window.RunCommand(kCommandGuide, 0), 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(ServiceWindowTest, DataBroadcastCommandReportsWhatItDid) {
    AddServices();
    test_support::TempDir dir;
    const std::string folder = dir.Path() + "/101-20090101-000000";

    dialogs.folder.reset();  // cancelled: nothing at all
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, 0), 0);
    EXPECT_TRUE(written_pids.empty() && dialogs.asked.empty());

    dialogs.folder = dir.Path();
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, 0), 1);
    EXPECT_EQ(written_pids, (std::vector<uint16_t>{0x111, 0x112, 0x140}));
    EXPECT_TRUE(std::filesystem::exists(folder + "/40/0000.png"));
    EXPECT_EQ(
        dialogs.asked.back(),
        std::pair("データ放送のファイルを 1 個書き出しました。\n" + folder, std::string("tavrel")));

    clock.Advance(1000);  // a service without a carousel leaves no folder behind
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, 1), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/102-20090101-000001"));
    EXPECT_EQ(dialogs.asked.back().first, "書き出すデータ放送のファイルがありませんでした。");

    test_support::WriteText(dir.File("plain"), "");  // a file where the folder must go
    dialogs.folder = dir.File("plain");
    EXPECT_EQ(window.RunCommand(kCommandDataBroadcast, 0), 0);
    EXPECT_NE(dialogs.asked.back().first.find("フォルダを作成できません"), std::string::npos);
}

TEST(ServiceWindowPlacement, UnplacedKeepsTheDefault) {
    Settings settings;
    settings.filtwnd_pos_x = -30000;
    settings.filtwnd_pos_y = 40;
    settings.filtwnd_show = 1;
    WindowPlacement placement = LoadServiceWindowPlacement(settings);
    EXPECT_TRUE(placement.default_place && placement.show);
    EXPECT_EQ(settings.filtwnd_pos_x + settings.filtwnd_pos_y, 0);

    SaveServiceWindowPlacement(settings, {false, 10, 20, 300, 200, false});
    placement = LoadServiceWindowPlacement(settings);
    EXPECT_FALSE(placement.default_place || placement.show);
    EXPECT_EQ(placement.left + placement.top + placement.width + placement.height, 530);
}

}  // namespace
}  // namespace tavrel
