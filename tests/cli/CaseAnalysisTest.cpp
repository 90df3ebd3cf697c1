// The case report's streaming analysis: spectrogram columns, level series, bounded memory, and
// the spectrogram picture.
#include "cli/CaseAnalysis.h"
#include "cli/CaseReport.h"
#include "cli/Job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using cli::SignalOverview;

constexpr double kPi = 3.14159265358979323846;

// `seconds` of a sine, the same in every channel, fed in blocks of `block` frames.
void feedSine(SignalOverview& overview, double hz, double amplitude, double seconds,
              std::size_t block) {
    const int ch = overview.channels();
    const auto total = static_cast<std::size_t>(seconds * overview.sampleRate());
    std::vector<float> buffer(block * static_cast<std::size_t>(ch));
    for (std::size_t done = 0; done < total;) {
        const std::size_t n = std::min(block, total - done);
        for (std::size_t f = 0; f < n; ++f) {
            const double t = static_cast<double>(done + f) / overview.sampleRate();
            const auto x = static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * t));
            for (int c = 0; c < ch; ++c) {
                buffer[f * static_cast<std::size_t>(ch) + static_cast<std::size_t>(c)] = x;
            }
        }
        overview.add(buffer.data(), n);
        done += n;
    }
}

std::uint32_t bigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

TEST(SignalOverview, ToneLandsInItsBinAtItsLevel) {
    // 1 kHz at 16 kHz is bin 64 of 1024; −20 dBFS peak, stereo, odd block size.
    SignalOverview overview(16000.0, 2, 0);
    feedSine(overview, 1000.0, 0.1, 3.0, 777);
    overview.finish();
    ASSERT_GT(overview.columnCount(), 10u);
    // Away from the zero-padded tail, every column peaks at the tone's bin at about −20 dB.
    for (std::size_t i = 1; i + 3 < overview.columnCount(); ++i) {
        const float* p = overview.columnPower(i);
        const auto peak =
            static_cast<std::size_t>(std::max_element(p, p + SignalOverview::kBins) - p);
        EXPECT_NEAR(static_cast<double>(peak), 64.0, 1.0) << "column " << i;
        EXPECT_NEAR(overview.powerDb(i, peak), -20.0, 0.5) << "column " << i;
        EXPECT_LT(overview.powerDb(i, 200), -60.0) << "column " << i;
        EXPECT_NEAR(overview.columnMax(i), 0.1f, 0.001f);
        EXPECT_NEAR(overview.columnMin(i), -0.1f, 0.001f);
    }
    // The level of a −20 dBFS sine: RMS −23.01 dBFS in every full 100 ms point.
    ASSERT_EQ(overview.levelCount(), 30u);
    for (std::size_t i = 0; i < overview.levelCount(); ++i) {
        EXPECT_NEAR(overview.levelDb(i), -20.0 - 3.0103, 0.1) << "point " << i;
    }
}

TEST(SignalOverview, MemoryStaysBoundedForLongFiles) {
    // Unknown length: ten minutes at 8 kHz in large blocks run through many column and level
    // merges (one hop per column at first, 100 ms per point).
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> block(65536);
    for (float& x : block) {
        x = noise(random);
    }
    const double rate = 8000.0;
    const std::uint64_t tenMinutes = static_cast<std::uint64_t>(600 * rate);
    SignalOverview unknown(rate, 1, 0);
    std::uint64_t fed = 0;
    while (fed < tenMinutes) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(65536, tenMinutes - fed));
        unknown.add(block.data(), n);
        fed += n;
        ASSERT_LE(unknown.columnCount(), SignalOverview::kColumns);
        ASSERT_LT(unknown.levelCount(), SignalOverview::kMaxLevelPoints);
    }
    unknown.finish();
    EXPECT_EQ(unknown.framesSeen(), tenMinutes);
    // 9375 hops → spans of 8 hops, 1172 columns; 6000 points → 200 ms each, 3000 points.
    EXPECT_EQ(unknown.columnFrames(), 8u * SignalOverview::kHop);
    EXPECT_EQ(unknown.columnCount(), 1172u);
    EXPECT_EQ(unknown.levelCount(), 3000u);
    EXPECT_DOUBLE_EQ(unknown.columnEndSeconds(unknown.columnCount() - 1), 600.0);
    // Merging keeps RMS exact: uniform noise of ±0.5 has RMS 0.5/√3 (−10.79 dBFS).
    for (std::size_t i = 0; i < unknown.levelCount(); i += 499) {
        EXPECT_NEAR(unknown.levelDb(i), 20.0 * std::log10(0.5 / std::sqrt(3.0)), 0.2);
    }
    // Noise reaches every bin of every column; the tail's padded window keeps the last one lit.
    EXPECT_GT(unknown.powerDb(unknown.columnCount() - 1, 300), -60.0);

    // A declared length of eight hours spans its columns from the start: the first minute
    // fills only its share of them and the level points are already wider than 100 ms.
    SignalOverview eightHours(rate, 1, static_cast<std::uint64_t>(8 * 3600 * rate));
    for (std::uint64_t done = 0; done < static_cast<std::uint64_t>(60 * rate); done += 8000) {
        eightHours.add(block.data(), 8000);
    }
    eightHours.finish();
    EXPECT_EQ(eightHours.columnFrames(), 282u * SignalOverview::kHop); // 450000 hops / 1600
    EXPECT_EQ(eightHours.columnCount(), 4u);
    EXPECT_LE(static_cast<double>(8 * 3600 * rate) / eightHours.columnFrames(),
              static_cast<double>(SignalOverview::kColumns));
    EXPECT_LE(static_cast<double>(8 * 3600 * rate) / eightHours.levelFrames(),
              static_cast<double>(SignalOverview::kMaxLevelPoints));
}

TEST(SignalOverview, TheTailShowsNoStepIntoSilence) {
    // 10000 frames end mid-hop: the last hops are analysed on the last full window, so the
    // tone's end adds no broadband leakage to the last columns.
    SignalOverview overview(48000.0, 1, 10000);
    std::vector<float> tone(10000);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.3 * i / 48000.0));
    }
    overview.add(tone.data(), tone.size());
    overview.finish();
    const std::size_t last = overview.columnCount() - 1;
    EXPECT_GT(overview.powerDb(last, 21), -10.0);   // 1 kHz: bin 21.3
    EXPECT_LT(overview.powerDb(last, 400), -100.0); // 18.75 kHz
}

TEST(SignalOverview, ShortFileGetsOneWindowPerColumn) {
    SignalOverview overview(48000.0, 1, 1100);
    std::vector<float> samples(1100, 0.25f);
    overview.add(samples.data(), samples.size());
    overview.finish();
    // Hops starting at 0, 512 and 1024, each its own column, all analysed.
    EXPECT_EQ(overview.columnCount(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GT(overview.powerDb(i, 0), -80.0) << "column " << i;
    }
    EXPECT_DOUBLE_EQ(overview.columnEndSeconds(2), 1100.0 / 48000.0);
    EXPECT_EQ(overview.levelCount(), 1u); // a partial 100 ms point
    EXPECT_NEAR(overview.levelDb(0), 20.0 * std::log10(0.25), 1e-9);
}

TEST(SpectrogramPicture, SizeAndColours) {
    SignalOverview overview(16000.0, 1, 0);
    feedSine(overview, 4000.0, 1.0, 1.0, 4096); // bin 256: halfway up
    overview.finish();
    const int height = 257;
    const auto png = cli::spectrogramPng(overview, -120.0, 0.0, height);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(bigEndian32(png, 16), overview.columnCount());
    EXPECT_EQ(bigEndian32(png, 20), static_cast<std::uint32_t>(height));

    const gui::Surface picture = cli::spectrogramSurface(overview, -120.0, 0.0, height);
    const int x = static_cast<int>(overview.columnCount() / 2);
    const gui::Color tone = picture.color(x, height / 2);   // 4 kHz
    const gui::Color quiet = picture.color(x, height - 40); // about 1.2 kHz
    EXPECT_EQ(tone, cli::viridis(1.0));
    EXPECT_NE(tone, quiet);
    EXPECT_NE(quiet, cli::viridis(1.0));

    const gui::Surface bar = cli::colourBarSurface(-120.0, 0.0, 12, 200);
    EXPECT_EQ(bar.color(0, 0), cli::viridis(1.0));
    EXPECT_EQ(bar.color(11, 199), cli::viridis(0.0));
}

TEST(ValueTrack, EightHoursStayWithinItsPointsAndKeepTheStart) {
    cli::ValueTrack track(4800); // 100 ms at 48 kHz
    const std::uint64_t hours8 = 8ull * 3600 * 48000;
    for (std::uint64_t frame = 0; frame < hours8; frame += 4096) {
        track.add(frame, frame < hours8 / 2 ? 50.0 : 60.0);
    }
    ASSERT_LE(track.size(), cli::ValueTrack::kMaxPoints);
    EXPECT_GT(track.size(), cli::ValueTrack::kMaxPoints / 2);
    EXPECT_EQ(track.frame(0), 0u);
    EXPECT_EQ(track.value(0), 50.0);
    EXPECT_EQ(track.value(track.size() - 1), 60.0);
    for (std::size_t i = 1; i < track.size(); ++i) {
        ASSERT_GE(track.frame(i) - track.frame(i - 1), track.spacing() / 2) << i;
    }
}

TEST(CaseReportText, EscapingQuotingEncodingAndClock) {
    EXPECT_EQ(cli::htmlEscape("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(cli::shellWord("/cases/a-1/b.record.json"), "/cases/a-1/b.record.json");
    EXPECT_EQ(cli::shellWord("/cases/it's $(x).json"), "'/cases/it'\\''s $(x).json'");
    EXPECT_EQ(cli::base64({}), "");
    EXPECT_EQ(cli::base64({'M'}), "TQ==");
    EXPECT_EQ(cli::base64({'M', 'a'}), "TWE=");
    EXPECT_EQ(cli::base64({'M', 'a', 'n', 0xff}), "TWFu/w==");
    EXPECT_EQ(cli::clockText(0.0), "0:00");
    EXPECT_EQ(cli::clockText(59.6), "1:00");
    EXPECT_EQ(cli::clockText(3599.0), "59:59");
    EXPECT_EQ(cli::clockText(8 * 3600.0 + 65.0), "8:01:05");
    EXPECT_EQ(cli::clockText(1.25, true), "0:01.3");
    EXPECT_EQ(cli::clockText(59.96, true), "1:00.0");
    EXPECT_EQ(cli::htmlReportPathFor("/a/b.c/x.wav"), "/a/b.c/x.report.html");
}

} // namespace
