// The programme guide at full size: 40 services with 8 days of 48 events each, inserted
// through the EIT handler from written schedule sections fed to CTsProcessor::Input, then the
// lookups the windows and the reservations make on a service with 400 events.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/eit_writer.h"
#include "sim/packetizer.h"
#include "ts/event_store.h"
#include "ts/ts_processor.h"

namespace tavrel {
namespace {

constexpr uint32_t kFirstMjd = 58944;
constexpr uint16_t kServices = 40;
constexpr uint32_t kDays = 8;
constexpr uint16_t kBusyService = 0x0400;  // 50 events a day: 400 in all
constexpr uint32_t kBlock = 0x8000;

struct Guide {
    std::vector<uint8_t> stream;
    size_t events = 0;
};

// Names and texts of a realistic length (about 20 and 60 characters), video and audio
// components, in schedule sections laid out by segment as broadcasters send them.
const Guide& FullGuide() {
    static const Guide guide = [] {
        Guide g;
        std::vector<std::vector<uint8_t>> packets;
        sim::SectionPacketizer packetizer(0x0012);
        for (uint16_t s = 0; s < kServices; ++s) {
            const uint16_t service_id = static_cast<uint16_t>(kBusyService + s);
            const uint32_t per_day = s == 0 ? 50 : 48;
            const uint32_t length = 86400 / per_day;
            std::vector<sim::EitEvent> events;
            for (uint32_t day = 0; day < kDays; ++day) {
                for (uint32_t k = 0; k < per_day; ++k) {
                    sim::EitEvent e;
                    e.event_id = static_cast<uint16_t>(day * per_day + k + 1);
                    e.start = {kFirstMjd + day, k * length};
                    e.duration = length;
                    e.name = "ニュースと天気「全国の話題」第" + std::to_string(k) + "回[字]";
                    e.text =
                        "きょうの出来事を中継を交えて伝えます。全国各地の天気と週末の"
                        "行楽情報、スポーツの結果もお届けします。";
                    e.video_component_type = 0xB3;
                    e.audio_component_type = 0x03;
                    events.push_back(e);
                }
            }
            g.events += events.size();
            for (const auto& section :
                 sim::ScheduleSections(true, service_id, 0x7FE3, 0x7FE3, 1, kFirstMjd, events)) {
                for (auto& p : packetizer.Put(section)) {
                    packets.push_back(std::move(p));
                }
            }
        }
        sim::AppendUnits(g.stream, packets, 188);
        return g;
    }();
    return guide;
}

void Feed(CTsProcessor& processor, const std::vector<uint8_t>& stream) {
    StreamStats stats;
    for (size_t pos = 0; pos < stream.size(); pos += kBlock) {
        const size_t n = std::min<size_t>(kBlock, stream.size() - pos);
        processor.Input(static_cast<uint32_t>(n), stats, stream.data() + pos);
    }
}

std::unique_ptr<CTsProcessor> FilledProcessor() {
    auto processor = std::make_unique<CTsProcessor>();
    processor->decode_tables = 1;
    processor->program_guide = 1;
    Feed(*processor, FullGuide().stream);
    return processor;
}

void BM_InsertFullScheduleThroughInput(benchmark::State& state) {
    const Guide& guide = FullGuide();
    size_t stored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto processor = std::make_unique<CTsProcessor>();
        processor->decode_tables = 1;
        processor->program_guide = 1;
        state.ResumeTiming();
        Feed(*processor, guide.stream);
        stored = processor->EventStore().EventCount();
        state.PauseTiming();
        processor.reset();
        state.ResumeTiming();
    }
    if (stored != guide.events) {
        state.SkipWithError("not every event reached the store");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * guide.events));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * guide.stream.size()));
    state.counters["events"] = static_cast<double>(guide.events);
}
BENCHMARK(BM_InsertFullScheduleThroughInput)->Unit(benchmark::kMillisecond);

// The heap the store itself holds: a second store filled with the same records, measured by
// the allocator's own count of bytes in use.
void BM_StoreMemory(benchmark::State& state) {
    const auto processor = FilledProcessor();
    std::vector<std::vector<EventRecord>> copies;
    for (uint16_t s = 0; s < kServices; ++s) {
        copies.emplace_back();
        processor->EventStore().SortedEvents(static_cast<uint16_t>(kBusyService + s),
                                             copies.back());
    }
    size_t bytes = 0;
    size_t events = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        auto store = std::make_unique<CEventStore>();
        for (uint16_t s = 0; s < kServices; ++s) {
            for (const EventRecord& r : copies[s]) {
                store->Insert(r, static_cast<uint16_t>(kBusyService + s));
            }
        }
        bytes = mallinfo2().uordblks - before;
        events = store->EventCount();
        benchmark::DoNotOptimize(store.get());
    }
    state.counters["store_bytes"] = static_cast<double>(bytes);
    state.counters["bytes_per_event"] = static_cast<double>(bytes) / static_cast<double>(events);
    state.counters["record_bytes"] = static_cast<double>(sizeof(EventRecord));
}
BENCHMARK(BM_StoreMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// The current programme at moments spread over the 8 days, and (arg 1) at a moment after
// every event, where the walk passes all 400 events.
void BM_EventAt(benchmark::State& state) {
    const auto processor = FilledProcessor();
    CEventStore& store = processor->EventStore();
    const bool after_all = state.range(0) == 1;
    uint32_t i = 0;
    size_t found = 0;
    for (auto _ : state) {
        MjdTime t{kFirstMjd + (i % kDays), (i * 7919) % 86400};
        if (after_all) {
            t = {kFirstMjd + kDays, 100};
        }
        const auto r = store.EventAt(kBusyService, t);
        found += r != nullptr;
        benchmark::DoNotOptimize(r.get());
        ++i;
    }
    if (!after_all && found != static_cast<size_t>(state.iterations())) {
        state.SkipWithError("a moment inside the schedule found no event");
    }
    state.counters["events"] = static_cast<double>(store.FindService(kBusyService, false)->size());
}
BENCHMARK(BM_EventAt)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SortedEvents(benchmark::State& state) {
    const auto processor = FilledProcessor();
    CEventStore& store = processor->EventStore();
    std::vector<EventRecord> out;
    for (auto _ : state) {
        store.SortedEvents(store.FindService(kBusyService, false), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["events"] = static_cast<double>(out.size());
}
BENCHMARK(BM_SortedEvents)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tavrel
