#include "sim/multiplex_plan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "sim/module_builder.h"
#include "sim/png_writer.h"

namespace tavrel::sim {
namespace {

// Texts are written full-width, as a decoder gives them back.
constexpr std::array<std::string_view, 12> kTitles = {
    "ニュース７",   "世界の車窓から",   "アニメ　星の旅人", "きょうの料理",
    "名曲アルバム", "映画　海辺の町",   "天気予報",         "ドキュメント７２時間",
    "大相撲中継",   "クイズ　日本の城", "ドラマ　港の灯",   "サイエンスＺＥＲＯ",
};
constexpr std::array<std::string_view, 8> kMarks = {
    "[字]", "[デ]", "[再]", "[新]", "[終]", "[生]", "[字][デ]", "[再][字]",
};
constexpr std::array<std::string_view, 6> kTexts = {
    "今日の主な出来事を詳しくお伝えします。", "各地の名所を列車の窓から眺めます。",
    "旬の食材を使った家庭料理を紹介します。", "話題の映画をノーカットでお送りします。",
    "全国の天気と週間予報をお伝えします。",   "出演者が番組の見どころを語ります。",
};

struct StreamLayout {
    const char* name;
    const char* provider;
    uint16_t service_id;
};

// Two satellite transport streams of one network, laid out alike as broadcasters do: the
// same PIDs, other services.
constexpr std::array<std::array<StreamLayout, 3>, 2> kLayouts = {{
    {{{"みなと総合テレビ", "みなと放送", 0x0065},
      {"みなと教育テレビ", "みなと放送", 0x0066},
      {"みなとワンセグ", "みなと放送", 0x0067}}},
    {{{"さくらテレビ", "さくら放送", 0x00C9},
      {"さくらシネマ", "さくら放送", 0x00CA},
      {"さくらワンセグ", "さくら放送", 0x00CB}}},
}};
constexpr std::array<uint16_t, 2> kTransportStreamIds = {0x4010, 0x4011};
constexpr uint16_t kNetworkId = 0x0004;

PlannedService TvService(const StreamLayout& layout, int index) {
    PlannedService s;
    s.service_id = layout.service_id;
    s.service_type = 0x01;  // digital television
    s.name = layout.name;
    s.provider = layout.provider;
    const auto base = static_cast<uint16_t>(0x0111 + 0x100 * index);
    s.pmt_pid = static_cast<uint16_t>(0x01F0 + index);
    s.pcr_pid = base;
    s.streams = {{0x02, base, 0x00},
                 {0x0F, static_cast<uint16_t>(base + 1), 0x10},
                 {0x0D, static_cast<uint16_t>(base + 0x2F), 0x40}};
    return s;
}

// The partial-reception service keeps the PIDs receivers look for it on.
PlannedService OneSegService(const StreamLayout& layout) {
    PlannedService s;
    s.service_id = layout.service_id;
    s.service_type = 0x01;
    s.name = layout.name;
    s.provider = layout.provider;
    s.pmt_pid = 0x1FC8;
    s.pcr_pid = 0x0181;
    s.streams = {{0x1B, 0x0181, 0x81}, {0x0F, 0x0183, 0x83}};
    return s;
}

// Programmes of 30 to 60 minutes covering the day after `reference`. The first is on air at
// `reference` and ends `first_end` seconds later. `undefined_index`, when set, names the
// programme whose end is not announced.
std::vector<PlannedEvent> PlanEvents(SeededRandom& random, MjdTime reference, int64_t first_end,
                                     bool one_seg, int undefined_index) {
    std::vector<PlannedEvent> events;
    auto event_id = static_cast<uint16_t>(0x1000 + random.Below(0x6000));
    int64_t length = 60 * static_cast<int64_t>(30 + random.Below(31));
    length = std::max(length, first_end + 60);
    int64_t begin = first_end - length;  // seconds from the reference
    while (begin < 24 * 3600) {
        PlannedEvent e;
        e.event_id = event_id++;
        e.start = TimeAfter(reference, begin);
        e.on_air_seconds = static_cast<uint32_t>(length);
        e.duration = static_cast<int>(events.size()) == undefined_index ? kUndefinedDuration
                                                                        : e.on_air_seconds;
        e.name = std::string(kTitles[random.Below(kTitles.size())]);
        if (random.Below(3) != 0) {
            e.name += kMarks[random.Below(kMarks.size())];
        }
        e.text = std::string(kTexts[random.Below(kTexts.size())]);
        e.video_component_type = one_seg ? 0xE3 : 0xB3;  // 180p / 1080i, both 16:9
        // Mostly stereo; now and then mono or 5.1.
        static constexpr std::array<uint8_t, 4> kAudio = {0x03, 0x03, 0x01, 0x09};
        e.audio_component_type = one_seg ? 0x03 : kAudio[random.Below(kAudio.size())];
        events.push_back(std::move(e));
        begin += length;
        length = 60 * static_cast<int64_t>(30 + random.Below(31));
    }
    return events;
}

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// A smooth image: every pixel a blend of two seeded colours.
std::vector<uint8_t> GradientPng(SeededRandom& random, uint32_t width, uint32_t height) {
    const uint64_t a = random.Next();
    const uint64_t b = random.Next();
    std::vector<uint8_t> rgb;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint32_t from = (a >> (8 * c)) & 0xFF;
                const uint32_t to = (b >> (8 * c)) & 0xFF;
                const uint32_t w = x + y;
                const uint32_t span = width + height - 2;
                rgb.push_back(
                    static_cast<uint8_t>((from * (span - w) + to * w) / std::max(1u, span)));
            }
        }
    }
    return PngImage(width, height, rgb);
}

// A noisy image that does not compress: its file needs several blocks of the carousel.
std::vector<uint8_t> NoisePng(SeededRandom& random, uint32_t width, uint32_t height) {
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (uint8_t& v : rgb) {
        v = static_cast<uint8_t>(random.Next());
    }
    return PngImage(width, height, rgb);
}

std::string BmlDocument(const PlannedService& service, std::string_view body) {
    char title[64];
    std::snprintf(title, sizeof title, "service %04X", service.service_id);
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"EUC-JP\" ?>\r\n"
        "<!DOCTYPE bml PUBLIC \"+//ARIB STD-B24:1999//DTD BML Document//JA\" "
        "\"bml_1_0.dtd\">\r\n"
        "<?bml bml-version=\"1.0\" ?>\r\n<bml><head><title>";
    doc += title;
    doc += "</title></head><body>\r\n";
    doc += body;
    doc += "</body></bml>\r\n";
    return doc;
}

PlannedResource Resource(std::string_view type, std::string_view location,
                         std::vector<uint8_t> bytes) {
    return {std::string(type), std::string(location), std::move(bytes)};
}

PlannedModule FromBuilt(const BuiltModule& built, std::string_view content_type, bool compressed,
                        uint32_t original_size) {
    PlannedModule m;
    m.module_id = built.entry.module_id;
    m.version = built.entry.module_version;
    m.content_type = std::string(content_type);
    m.compressed = compressed;
    m.original_size = original_size;
    m.sent = built.bytes;
    m.module_info = built.entry.module_info;
    return m;
}

PlannedCarousel PlanCarousel(SeededRandom& random, const PlannedService& service,
                             const PlannedStream& stream, size_t transport_stream) {
    PlannedCarousel c;
    c.pid = stream.pid;
    c.component_tag = stream.component_tag;
    c.download_id = static_cast<uint32_t>(random.Next());
    c.block_size = 4066;  // the most a DDB section holds
    const auto version = static_cast<uint8_t>(1 + transport_stream);

    const std::string startup =
        BmlDocument(service,
                    "<object type=\"image/X-arib-png\" data=\"logo.png\"/>\r\n"
                    "<object type=\"image/X-arib-png\" data=\"banner.png\"/>\r\n"
                    "<p>data broadcast</p>\r\n");
    const std::vector<MimePart> parts = {
        {"text/X-arib-bml", "startup.bml", Bytes(startup), true},
        {"image/X-arib-png", "logo.png", GradientPng(random, 16, 16), true},
        {"image/X-arib-png", "banner.png", GradientPng(random, 48, 12), true},
    };
    PlannedModule multipart =
        FromBuilt(MultipartModule(0x0000, version, "tavrel-part-boundary", parts), "", false, 0);
    for (const MimePart& part : parts) {
        multipart.resources.push_back(Resource(part.content_type, part.location, part.body));
    }
    multipart.original_size = static_cast<uint32_t>(multipart.sent.size());
    c.modules.push_back(std::move(multipart));

    const std::vector<uint8_t> photo = NoisePng(random, 64, 48);
    PlannedModule png = FromBuilt(PngModule(0x0001, version, photo), "image/X-arib-png", false,
                                  static_cast<uint32_t>(photo.size()));
    png.resources.push_back(Resource("image/X-arib-png", "", photo));
    c.modules.push_back(std::move(png));

    std::string rows;
    for (int i = 0; i < 120; ++i) {
        char row[80];
        std::snprintf(row, sizeof row, "<p>news item %03d of service %04X</p>\r\n", i,
                      service.service_id);
        rows += row;
    }
    const std::vector<uint8_t> news = Bytes(BmlDocument(service, rows));
    PlannedModule packed = FromBuilt(CompressedModule(0x0002, version, news, "text/X-arib-bml"),
                                     "text/X-arib-bml", true, static_cast<uint32_t>(news.size()));
    packed.resources.push_back(Resource("text/X-arib-bml", "", news));
    c.modules.push_back(std::move(packed));
    return c;
}

}  // namespace

void PlanCarousels(const MultiplexConfig& config, MultiplexManifest& manifest) {
    SeededRandom random = SeededRandom(config.seed).Fork(400);
    for (size_t t = 0; t < manifest.transport_streams.size(); ++t) {
        for (PlannedService& s : manifest.transport_streams[t].services) {
            for (const PlannedStream& e : s.streams) {
                if (e.stream_type == 0x0D) {
                    s.carousel = PlanCarousel(random, s, e, t);
                }
            }
        }
    }
}

MjdTime TimeAfter(MjdTime start, int64_t seconds) {
    AddSeconds(start, seconds);
    return start;
}

void PlanMultiplex(const MultiplexConfig& config, MultiplexManifest& manifest) {
    SeededRandom random(config.seed);
    manifest.packet_size = config.packet_size;
    manifest.bitrate = config.bitrate;
    manifest.start = config.start;

    manifest.network.network_id = kNetworkId;
    manifest.network.name = "みなと衛星";
    static constexpr std::array<uint32_t, 3> kFrequencies = {0x01172748, 0x01176584, 0x01180420};
    for (size_t i = 0; i < kFrequencies.size(); ++i) {
        PlannedDelivery d;
        d.transport_stream_id = static_cast<uint16_t>(0x4010 + i);
        d.frequency_bcd = kFrequencies[i];
        d.orbital_position_bcd = 0x1100;  // 110.0 degrees
        d.east = true;
        d.polarisation = 1;
        d.modulation = 0x08;
        d.symbol_rate_bcd = 0x0288600;  // 28.8600 Msymbol/s
        d.fec_inner = 0x0F;
        manifest.network.transport_streams.push_back(d);
    }

    for (size_t t = 0; t < 2; ++t) {
        SeededRandom stream_random = random.Fork(t + 1);
        PlannedTransportStream ts;
        ts.transport_stream_id = kTransportStreamIds[t];
        ts.original_network_id = kNetworkId;
        const double begin = t == 0 || !config.change_seconds ? 0.0 : *config.change_seconds;
        const auto begin_seconds = static_cast<int64_t>(std::floor(begin));
        const MjdTime reference = TimeAfter(config.start, begin_seconds);
        // The first service's programme ends halfway through what this stream is on air, so
        // that even a short stream sees its present/following tables change.
        const auto remaining = static_cast<int64_t>(config.seconds - begin);
        for (int j = 0; j < 3; ++j) {
            PlannedService s = j < 2 ? TvService(kLayouts[t][j], j) : OneSegService(kLayouts[t][j]);
            const int64_t first_end =
                j == 0 ? std::max<int64_t>(1, remaining / 2)
                       : 300 + static_cast<int64_t>(stream_random.Below(50 * 60));
            s.events = PlanEvents(stream_random, reference, first_end, j == 2, j == 2 ? 2 : -1);
            ts.services.push_back(std::move(s));
        }
        manifest.transport_streams.push_back(std::move(ts));
    }
}

}  // namespace tavrel::sim
