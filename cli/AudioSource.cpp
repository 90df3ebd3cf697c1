#include "cli/AudioSource.h"

#include <sndfile.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;

namespace cli {

std::mutex& sndfileLock() {
    static std::mutex lock;
    return lock;
}

std::string sndfileFormatName(int format) {
    SF_FORMAT_INFO major{};
    major.format = format & SF_FORMAT_TYPEMASK;
    SF_FORMAT_INFO sub{};
    sub.format = format & SF_FORMAT_SUBMASK;
    std::string name;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0 && major.name) {
        name = major.name;
    }
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub) == 0 && sub.name) {
        if (!name.empty()) {
            name += ", ";
        }
        name += sub.name;
    }
    return name;
}

namespace {

// Decoder messages kept per file; beyond that they are only counted.
constexpr std::size_t kMaxDecoderMessages = 100;

std::string seconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", t);
    return text;
}

std::string sndfileName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "unknown";
}

// The formats libsndfile decodes exactly; compressed ones it also reads (MP3, Vorbis, Opus)
// go through FFmpeg like every other compressed stream.
bool sndfileReadsExactly(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    if (major == SF_FORMAT_OGG || major == SF_FORMAT_MPEG) {
        return false;
    }
    return sub != SF_FORMAT_VORBIS && sub != SF_FORMAT_OPUS && sub != SF_FORMAT_MPEG_LAYER_I &&
           sub != SF_FORMAT_MPEG_LAYER_II && sub != SF_FORMAT_MPEG_LAYER_III;
}

// Why libsndfile refused a file, in the examiner's words.
std::string sndfileFailure(int code) {
    const std::string detail = sf_error_number(code);
    switch (code) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return "not a supported audio file (" + detail + ")";
    case SF_ERR_SYSTEM:
        return "unreadable (" + detail + ")";
    case SF_ERR_MALFORMED_FILE:
        return "corrupt header (" + detail + ")";
    case SF_ERR_UNSUPPORTED_ENCODING:
        return "unsupported encoding (" + detail + ")";
    default:
        return "cannot be read (" + detail + ")";
    }
}

class SndfileSource : public AudioSource {
public:
    SndfileSource(SNDFILE* opened, const SF_INFO& info) : file(opened) {
        rate = info.samplerate;
        width = info.channels;
        declared = info.frames > 0 ? static_cast<std::uint64_t>(info.frames) : 0;
        about.container = sndfileName(info.format & SF_FORMAT_TYPEMASK);
        about.codec = sndfileName(info.format & SF_FORMAT_SUBMASK);
        about.streamIndex = 0;
        about.decoder = sf_version_string();
        about.decodedSampleFormat = about.codec;
        about.sndfileFormat = info.format;
        // libsndfile reads a file cut short as far as it goes; its log tells.
        std::vector<char> log(8192, '\0');
        sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size() - 1));
        std::istringstream lines(log.data());
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find("should be") != std::string::npos) {
                problems.push_back("header and file size disagree (truncated or damaged file?): " +
                                   line);
            }
        }
    }
    ~SndfileSource() override { sf_close(file); }

    std::size_t read(float* frames, std::size_t maxFrames) override {
        if (done) {
            return 0;
        }
        const sf_count_t got = sf_readf_float(file, frames, static_cast<sf_count_t>(maxFrames));
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        position += n;
        if (n == 0) {
            done = true;
            if (position < declared) {
                problems.push_back("input ends after " + std::to_string(position) + " of the " +
                                   std::to_string(declared) +
                                   " frames its header declares (truncated file?)");
            }
        }
        return n;
    }

private:
    SNDFILE* file;
    std::uint64_t position = 0;
    bool done = false;
};

// ---- FFmpeg ------------------------------------------------------------------------------

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string libraryVersion(const char* name, unsigned version) {
    return std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(version)) + "." +
           std::to_string(AV_VERSION_MINOR(version)) + "." +
           std::to_string(AV_VERSION_MICRO(version));
}

const char* mediaType(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_DATA:
        return "data";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "attachment";
    default:
        return "unknown";
    }
}

FileStreams describe(AVFormatContext* format) {
    FileStreams result;
    result.container =
        format->iformat->long_name ? format->iformat->long_name : format->iformat->name;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        StreamInfo info;
        info.index = static_cast<int>(i);
        info.type = mediaType(s->codecpar->codec_type);
        info.codec = avcodec_get_name(s->codecpar->codec_id);
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.sampleRate = s->codecpar->sample_rate;
            info.channels = s->codecpar->ch_layout.nb_channels;
            if (result.defaultAudio < 0) {
                result.defaultAudio = info.index;
            }
        }
        if (s->duration != AV_NOPTS_VALUE && s->duration > 0) {
            info.durationSeconds = static_cast<double>(s->duration) * av_q2d(s->time_base);
        } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
            info.durationSeconds = static_cast<double>(format->duration) / AV_TIME_BASE;
        }
        if (s->start_time != AV_NOPTS_VALUE) {
            info.startSeconds = static_cast<double>(s->start_time) * av_q2d(s->time_base);
        }
        result.streams.push_back(info);
    }
    return result;
}

// FFmpeg's error messages about the contexts of one file, as they were logged.
struct LogCollector {
    void log(void* object, int level, const char* format, va_list arguments) {
        // Errors only: FFmpeg's warnings are mostly remarks ("estimating duration").
        if (level > AV_LOG_ERROR) {
            return;
        }
        char line[1024];
        av_log_format_line2(nullptr, level, format, arguments, line, sizeof line, &prefix);
        // The name of what reports, without its address (the record must not vary by run).
        const AVClass* type = *static_cast<AVClass**>(object);
        std::string text = "[" + std::string(type->item_name(object)) + "] " + line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (text.empty()) {
            return;
        }
        logged.push_back(text);
    }

    std::vector<std::string> logged; // since the owner last took them
    int prefix = 1;                  // av_log_format_line2's state
};

// FFmpeg logs through one process-wide callback; messages from the contexts of an open file
// go to its collector (each file is read on one thread, so the callback runs on its thread).
std::mutex& logLock() {
    static std::mutex lock;
    return lock;
}
std::map<const void*, LogCollector*>& logOwners() {
    static std::map<const void*, LogCollector*> owners;
    return owners;
}
void own(const void* object, LogCollector* collector) {
    const std::lock_guard<std::mutex> guard(logLock());
    logOwners()[object] = collector;
}
void disown(const void* object) {
    const std::lock_guard<std::mutex> guard(logLock());
    logOwners().erase(object);
}
void onLog(void* object, int level, const char* format, va_list arguments);

void installLogCallback() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_WARNING);
        av_log_set_callback(onLog);
    });
}

class FfmpegSource : public AudioSource, private LogCollector {
public:
    // Owns the opened container; throws SourceError.
    FfmpegSource(const std::string& path, int chosen) {
        installLogCallback();
        format = avformat_alloc_context();
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (format == nullptr || packet == nullptr || frame == nullptr) {
            release();
            throw SourceError("out of memory");
        }
        own(format);
        // On failure avformat_open_input frees the context (and sets it to null).
        AVFormatContext* opening = format;
        const int opened = avformat_open_input(&opening, path.c_str(), nullptr, nullptr);
        if (opened < 0) {
            disown(format);
            format = nullptr;
            const std::string why = logged.empty() ? "" : ": " + logged.back();
            release();
            throw SourceError("not a supported audio file (" + averror(opened) + why + ")");
        }
        try {
            open(chosen);
        } catch (...) {
            release();
            throw;
        }
    }
    ~FfmpegSource() override { release(); }

    std::size_t read(float* frames, std::size_t maxFrames) override {
        std::size_t done = 0;
        const std::size_t w = static_cast<std::size_t>(width);
        while (done < maxFrames) {
            if (pendingAt == pending.size()) {
                pending.clear();
                pendingAt = 0;
                const bool more = decodeMore();
                if (!more && pending.empty()) {
                    finish();
                    break;
                }
                continue;
            }
            const std::size_t n = std::min(maxFrames - done, (pending.size() - pendingAt) / w);
            std::copy_n(pending.begin() + static_cast<std::ptrdiff_t>(pendingAt), n * w,
                        frames + done * w);
            pendingAt += n * w;
            done += n;
        }
        return done;
    }

private:
    void own(const void* object) { cli::own(object, this); }

    void release() {
        if (swr != nullptr) {
            disown(swr);
            swr_free(&swr);
        }
        if (codec != nullptr) {
            disown(codec);
            avcodec_free_context(&codec);
        }
        if (format != nullptr) {
            disown(format);
            avformat_close_input(&format);
        }
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    // The time in the stream of the packet being decoded (from its start), or of the audio
    // decoded so far where the packet carries no time.
    double now() const {
        if (packetTime >= 0.0) {
            return packetTime;
        }
        return rate > 0 ? static_cast<double>(decodedFrames) / rate : 0.0;
    }

    // What FFmpeg logged since the last call: with `what` went wrong, or on its own.
    void report(const std::string& what = {}) {
        if (what.empty()) {
            for (const std::string& message : logged) {
                note("FFmpeg: " + message);
            }
        } else {
            std::string text = what;
            for (const std::string& message : logged) {
                text += (&message == &logged.front() ? ": " : "; ") + message;
            }
            note(text);
        }
        logged.clear();
    }

    // A problem at the current position; beyond kMaxDecoderMessages only counted.
    void note(const std::string& text) {
        if (noted < kMaxDecoderMessages) {
            problems.push_back("at " + seconds(now()) + ": " + text);
        }
        ++noted;
    }

    void open(int chosen) {
        const int found = avformat_find_stream_info(format, nullptr);
        if (found < 0) {
            throw SourceError("cannot read the streams (" + averror(found) + ")");
        }
        report();
        FileStreams streams = describe(format);
        stream = chooseAudioStream(streams, chosen);
        AVStream* s = format->streams[stream];
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            format->streams[i]->discard =
                static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
        const AVCodec* decoder = avcodec_find_decoder(s->codecpar->codec_id);
        if (decoder == nullptr) {
            throw SourceError("unsupported encoding (no decoder for " +
                              std::string(avcodec_get_name(s->codecpar->codec_id)) + ")");
        }
        codec = avcodec_alloc_context3(decoder);
        if (codec == nullptr) {
            throw SourceError("out of memory");
        }
        own(codec);
        avcodec_parameters_to_context(codec, s->codecpar);
        codec->pkt_timebase = s->time_base;
        // One thread: the job runs in parallel with others already.
        codec->thread_count = 1;
        const int ready = avcodec_open2(codec, decoder, nullptr);
        if (ready < 0) {
            throw SourceError("unsupported encoding (" + averror(ready) + ")");
        }
        report();

        about.container = std::string(format->iformat->long_name ? format->iformat->long_name
                                                                 : format->iformat->name) +
                          " (" + format->iformat->name + ")";
        about.codec = std::string(decoder->name) +
                      (decoder->long_name ? " (" + std::string(decoder->long_name) + ")" : "");
        about.streamIndex = stream;
        about.decoder = libraryVersion("libavcodec", avcodec_version()) + " (decoder " +
                        decoder->name + "), " + libraryVersion("libavformat", avformat_version());
        startTicks = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
        // Ogg gives packets durations worked out from the codec, not stored; its last packet
        // of a stream would look like a gap.
        timedPackets = std::string(format->iformat->name) != "ogg";
        about.startSeconds = static_cast<double>(startTicks) * av_q2d(s->time_base);

        // The rate and channels the decoder delivers (HE-AAC doubles the rate its header
        // gives): known from the first frame.
        if (!decodeMore()) {
            std::string why = problems.empty() ? "" : " (" + problems.back() + ")";
            throw SourceError("no audio could be decoded from stream " + std::to_string(stream) +
                              why);
        }
        // A length only estimated from the bit rate declares nothing.
        const bool estimated = format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
        if (estimated) {
            declared = 0;
        } else if (s->duration != AV_NOPTS_VALUE && s->duration > 0) {
            declared = static_cast<std::uint64_t>(
                std::llround(static_cast<double>(s->duration) * av_q2d(s->time_base) * rate));
        } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
            declared = static_cast<std::uint64_t>(
                std::llround(static_cast<double>(format->duration) / AV_TIME_BASE * rate));
        }
    }

    // Decodes until a frame has been added to `pending`; false at the end of the stream.
    bool decodeMore() {
        for (;;) {
            const int received = avcodec_receive_frame(codec, frame);
            if (received == 0) {
                const bool good =
                    (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0 && frame->decode_error_flags == 0;
                if (!good) {
                    ++corrupt;
                    report("the decoder marked a frame as corrupt (concealed)");
                } else {
                    report();
                }
                convert();
                av_frame_unref(frame);
                return true;
            }
            if (received == AVERROR_EOF) {
                return false;
            }
            if (received != AVERROR(EAGAIN)) {
                ++corrupt;
                report("frame could not be decoded (" + averror(received) + ")");
                if (flushing) {
                    return false;
                }
                continue;
            }
            if (flushing) {
                return false;
            }
            const int got = av_read_frame(format, packet);
            if (got >= 0 || got == AVERROR_EOF) {
                report();
            }
            if (got == AVERROR_EOF ||
                (got < 0 && format->pb != nullptr && avio_feof(format->pb) != 0)) {
                flushing = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (got < 0) {
                ++readErrors;
                report("read error (" + averror(got) + ")");
                if (readErrors > 1000) {
                    note("reading stopped after too many read errors");
                    flushing = true;
                    avcodec_send_packet(codec, nullptr);
                }
                continue;
            }
            if (packet->stream_index != stream) {
                av_packet_unref(packet);
                continue;
            }
            const AVRational base = format->streams[stream]->time_base;
            const std::int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (at != AV_NOPTS_VALUE) {
                packetTime = static_cast<double>(at - startTicks) * av_q2d(base);
                if (expectedNext != AV_NOPTS_VALUE && packet->duration > 0 && timedPackets &&
                    at > expectedNext + 2 * packet->duration) {
                    // Told, not filled: packet durations are only approximate in some
                    // containers (Ogg), and silence must never stand for audio that is there.
                    const double gap = static_cast<double>(at - expectedNext) * av_q2d(base);
                    note("gap of " + seconds(gap) +
                         " in the stream's timestamps (missing data?); the audio after it "
                         "follows without a pause");
                }
                expectedNext = packet->duration > 0 ? at + packet->duration : AV_NOPTS_VALUE;
            } else {
                packetTime = -1.0;
            }
            ++packets;
            if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
                ++corrupt;
                note("the container marks a packet as corrupt");
            }
            const double length = static_cast<double>(packet->duration) * av_q2d(base);
            const int sent = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                ++corrupt;
                // Silence keeps what follows at its time in the stream.
                const bool filled = fillSilence(length);
                report("packet could not be decoded (" + averror(sent) + ")" +
                       (filled ? "; " + seconds(length) + " of silence put in its place" : ""));
            } else {
                report();
            }
        }
    }

    // Appends `duration` seconds of silence to `pending`, up to an hour, once the rate is
    // known; false when nothing was put in.
    bool fillSilence(double duration) {
        if (rate == 0 || !(duration > 0.0) || duration > 3600.0) {
            return false;
        }
        const auto frames = static_cast<std::size_t>(std::llround(duration * rate));
        pending.resize(pending.size() + frames * static_cast<std::size_t>(width), 0.0f);
        decodedFrames += frames;
        return frames > 0;
    }

    // Appends the frame, interleaved float, to `pending`.
    void convert() {
        const int channels = frame->ch_layout.nb_channels;
        if (rate == 0) {
            rate = frame->sample_rate;
            width = channels;
            if (rate < 1 || width < 1) {
                throw SourceError("the decoder gives no rate or no channels");
            }
        } else if (frame->sample_rate != rate || channels != width) {
            throw SourceError("the stream changes from " + std::to_string(rate) + " Hz, " +
                              std::to_string(width) + " channels to " +
                              std::to_string(frame->sample_rate) + " Hz, " +
                              std::to_string(channels) + " channels at " + seconds(now()) +
                              "; cut the file there first");
        }
        if (about.decodedSampleFormat.empty()) {
            const char* name = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
            about.decodedSampleFormat = name != nullptr ? name : "unknown";
        }
        if (swr == nullptr || frame->format != swrFormat) {
            if (swr != nullptr) {
                disown(swr);
                swr_free(&swr);
            }
            // The same layout in and out, the same rate: only the sample format changes.
            AVChannelLayout layout{};
            if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                av_channel_layout_default(&layout, channels);
            } else {
                av_channel_layout_copy(&layout, &frame->ch_layout);
            }
            const int made =
                swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLT, rate, &layout,
                                    static_cast<AVSampleFormat>(frame->format), rate, 0, nullptr);
            av_channel_layout_uninit(&layout);
            if (made < 0 || swr == nullptr) {
                throw SourceError("cannot convert the decoded samples (" + averror(made) + ")");
            }
            own(swr);
            const int initialised = swr_init(swr);
            if (initialised < 0) {
                throw SourceError("cannot convert the decoded samples (" + averror(initialised) +
                                  ")");
            }
            swrFormat = frame->format;
        }
        const std::size_t count = static_cast<std::size_t>(frame->nb_samples);
        const std::size_t start = pending.size();
        pending.resize(start + count * static_cast<std::size_t>(width));
        auto* out = reinterpret_cast<std::uint8_t*>(pending.data() + start);
        const int converted =
            swr_convert(swr, &out, frame->nb_samples,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (converted < 0) {
            throw SourceError("cannot convert the decoded samples (" + averror(converted) + ")");
        }
        pending.resize(start +
                       static_cast<std::size_t>(converted) * static_cast<std::size_t>(width));
        decodedFrames += static_cast<std::uint64_t>(converted);
    }

    // At the end of the stream: what went wrong, summed up.
    void finish() {
        if (finished) {
            return;
        }
        finished = true;
        packetTime = -1.0;
        if (noted > kMaxDecoderMessages) {
            problems.push_back(std::to_string(noted - kMaxDecoderMessages) +
                               " more decoder messages not listed");
        }
        if (corrupt > 0) {
            problems.push_back(std::to_string(corrupt) +
                               " corrupt or undecodable frames or "
                               "packets (of " +
                               std::to_string(packets) + " packets); decoding went on after each");
        }
        const double tolerance = 0.2 * rate;
        if (declared > 0 &&
            static_cast<double>(decodedFrames) + tolerance < static_cast<double>(declared)) {
            problems.push_back("stream ends after " +
                               seconds(static_cast<double>(decodedFrames) / rate) + " of the " +
                               seconds(static_cast<double>(declared) / rate) +
                               " its header declares (truncated or damaged file?)");
        }
    }

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    int swrFormat = -1;                         // the sample format swr converts from
    std::vector<float> pending;                 // decoded interleaved samples not yet read
    std::size_t pendingAt = 0;                  // samples of `pending` already read
    std::int64_t startTicks = 0;                // the stream's start, in its time base
    std::int64_t expectedNext = AV_NOPTS_VALUE; // where the next packet should start
    double packetTime = -1.0;                   // of the packet being decoded, from the start (s)
    std::uint64_t decodedFrames = 0;
    std::uint64_t packets = 0;
    std::uint64_t corrupt = 0;
    std::uint64_t readErrors = 0;
    std::size_t noted = 0;    // problems noted, listed or not
    bool timedPackets = true; // whether the container's packet times show gaps
    bool flushing = false;
    bool finished = false;
};

void onLog(void* object, int level, const char* format, va_list arguments) {
    const std::lock_guard<std::mutex> guard(logLock());
    const auto owner = logOwners().find(object);
    if (owner != logOwners().end()) {
        owner->second->log(object, level, format, arguments);
    }
}

// Whether the file starts like a container libsndfile reads exactly (RIFF/RIFX WAV, RF64, BW64,
// Sony Wave64, AIFF, FLAC, AU, CAF); anything else goes to FFmpeg without libsndfile trying
// (and its MPEG reader printing its own complaints).
bool sndfileContainer(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return true; // libsndfile says why it cannot be read
    }
    char head[4] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got < sizeof head) {
        return true;
    }
    const std::string magic(head, sizeof head);
    for (const char* known :
         {"RIFF", "RIFX", "RF64", "BW64", "riff", "FORM", "fLaC", ".snd", "caff"}) {
        if (magic == known) {
            return true;
        }
    }
    return false;
}

// Tries libsndfile; returns null when the file is for FFmpeg. `refusal` gets libsndfile's
// reason when it does not read the file at all.
SNDFILE* openWithSndfile(const std::string& path, SF_INFO& info, std::string& refusal) {
    if (!sndfileContainer(path)) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> guard(sndfileLock());
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        refusal = sndfileFailure(sf_error(nullptr));
        return nullptr;
    }
    if (!sndfileReadsExactly(info.format)) {
        sf_close(file);
        return nullptr;
    }
    return file;
}

void checkReadable(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        throw SourceError("unreadable: no such file");
    }
    if (fs::is_directory(path, ec)) {
        throw SourceError("unreadable: is a folder");
    }
}

} // namespace

int chooseAudioStream(const FileStreams& streams, int stream) {
    if (stream < 0) {
        if (streams.defaultAudio < 0) {
            throw SourceError("no audio stream (" + std::to_string(streams.streams.size()) +
                              (streams.streams.size() == 1 ? " stream" : " streams") +
                              ", none of them audio)");
        }
        return streams.defaultAudio;
    }
    if (static_cast<std::size_t>(stream) >= streams.streams.size()) {
        throw SourceError("no stream " + std::to_string(stream) + " (the file has " +
                          std::to_string(streams.streams.size()) +
                          (streams.streams.size() == 1 ? " stream" : " streams") + ", from 0)");
    }
    const StreamInfo& chosen = streams.streams[static_cast<std::size_t>(stream)];
    if (chosen.type != "audio") {
        throw SourceError("stream " + std::to_string(stream) + " is " + chosen.type + " (" +
                          chosen.codec + "), not audio");
    }
    return stream;
}

std::unique_ptr<AudioSource> openAudioSource(const std::string& path, int stream) {
    checkReadable(path);
    SF_INFO info{};
    std::string refusal;
    if (SNDFILE* file = openWithSndfile(path, info, refusal)) {
        auto source = std::make_unique<SndfileSource>(file, info);
        if (stream > 0) {
            throw SourceError("no stream " + std::to_string(stream) +
                              " (the file has 1 stream, from 0)");
        }
        if (info.frames <= 0) {
            throw SourceError("refused: no audio frames");
        }
        return source;
    }
    try {
        std::unique_ptr<AudioSource> source = std::make_unique<FfmpegSource>(path, stream);
        return source;
    } catch (const SourceError& error) {
        // A file libsndfile knows but finds damaged: its own reason says more.
        if (refusal.rfind("corrupt header", 0) == 0 ||
            refusal.rfind("unsupported encoding", 0) == 0) {
            throw SourceError(refusal + "; " + error.what());
        }
        throw;
    }
}

FileStreams probeStreams(const std::string& path) {
    checkReadable(path);
    SF_INFO info{};
    std::string refusal;
    if (SNDFILE* file = openWithSndfile(path, info, refusal)) {
        FileStreams result;
        result.container = sndfileName(info.format & SF_FORMAT_TYPEMASK);
        StreamInfo s;
        s.type = "audio";
        s.codec = sndfileName(info.format & SF_FORMAT_SUBMASK);
        s.sampleRate = info.samplerate;
        s.channels = info.channels;
        s.durationSeconds =
            info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : -1.0;
        result.streams.push_back(s);
        result.defaultAudio = 0;
        sf_close(file);
        return result;
    }
    installLogCallback();
    LogCollector collector;
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr) {
        throw SourceError("out of memory");
    }
    own(format, &collector);
    const void* owned = format;
    // On failure avformat_open_input frees the context.
    const int opened = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    disown(owned);
    if (opened < 0) {
        const std::string why = collector.logged.empty() ? "" : ": " + collector.logged.back();
        throw SourceError("not a supported audio file (" + averror(opened) + why + ")");
    }
    const int found = avformat_find_stream_info(format, nullptr);
    FileStreams result;
    if (found >= 0) {
        result = describe(format);
    }
    avformat_close_input(&format);
    if (found < 0) {
        throw SourceError("cannot read the streams (" + averror(found) + ")");
    }
    return result;
}

} // namespace cli
