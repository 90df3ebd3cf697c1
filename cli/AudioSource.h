// Where the command line's audio comes from: one audio stream of a file, decoded to interleaved
// 32-bit float frames at the stream's own rate and channel count, read in pieces so that any
// length streams through constant memory.
//
// libsndfile reads what it reads exactly (WAV, RF64, BWF, AIFF, FLAC, and G.711 or GSM 6.10 in
// WAV); everything else (MP3, AAC, AMR, Opus, Vorbis, WMA, and the audio of MP4, MOV, 3GP, AVI,
// MKV, MPEG-TS) goes through FFmpeg's libraries. FFmpeg's resampler only turns the decoder's
// sample format into interleaved float; the rate is never changed.
//
// Decoder trouble never passes silently: corrupt or undecodable packets, read errors and
// streams that end before their header says are collected in warnings() with their time in the
// stream, and reading goes on with what decodes. A packet that cannot be decoded is replaced by
// silence of its length, so that what follows keeps its time; gaps in the container's
// timestamps are told, not filled.
//
// One source per thread; not copyable. Opening throws SourceError with the examiner's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// libsndfile reports a failed open through one global: every open (for reading or writing)
// and the reading of its error happen under this lock.
std::mutex& sndfileLock();

// libsndfile's name of a format code, container and encoding: "WAV (Microsoft), 32 bit float"
// (the parts it cannot name are left out).
std::string sndfileFormatName(int format);

struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One stream of a file, as `veltrano probe` lists it.
struct StreamInfo {
    int index = 0;
    std::string type;              // "audio", "video", "subtitle", "data", "attachment", "unknown"
    std::string codec;             // short name, e.g. "aac", "pcm_s16le"
    int sampleRate = 0;            // Hz; audio only
    int channels = 0;              // audio only
    double durationSeconds = -1.0; // negative: not known
    double startSeconds = 0.0;
};

struct FileStreams {
    std::string container; // the container as its reader names it
    std::vector<StreamInfo> streams;
    int defaultAudio = -1; // the stream read when none is chosen; -1: no audio stream
};

// What the processing record says about the decoding.
struct SourceDescription {
    std::string container; // e.g. "WAV (Microsoft)", "QuickTime / MOV (mov,mp4,...)"
    std::string codec;     // e.g. "Signed 16 bit PCM", "aac (AAC (Advanced Audio Coding))"
    int streamIndex = 0;
    std::string decoder;             // library and version, e.g. "libsndfile-1.2.0"
    std::string decodedSampleFormat; // what the decoder delivers before conversion to float
    double startSeconds = 0.0;       // the stream's start time in the container
    int sndfileFormat = 0;           // libsndfile's format code of the input; 0 through FFmpeg
};

class AudioSource {
public:
    virtual ~AudioSource() = default;
    AudioSource() = default;
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    int sampleRate() const { return rate; }
    int channels() const { return width; }
    // Frames the header declares (0: not declared; streams whose length is only estimated).
    std::uint64_t declaredFrames() const { return declared; }
    const SourceDescription& description() const { return about; }

    // Up to `maxFrames` interleaved frames; 0 at the end.
    virtual std::size_t read(float* frames, std::size_t maxFrames) = 0;

    // Problems met so far, each with its time in the stream where known.
    const std::vector<std::string>& warnings() const { return problems; }

protected:
    int rate = 0;
    int width = 0;
    std::uint64_t declared = 0;
    SourceDescription about;
    std::vector<std::string> problems;
};

// Opens `stream` of the file (-1: its first audio stream) for reading; never writes to it.
std::unique_ptr<AudioSource> openAudioSource(const std::string& path, int stream = -1);

// The streams of a file, through the reader that openAudioSource would use.
FileStreams probeStreams(const std::string& path);

// Checks that `stream` (-1: the default) of `streams` is an audio stream; throws SourceError.
int chooseAudioStream(const FileStreams& streams, int stream);

} // namespace cli
