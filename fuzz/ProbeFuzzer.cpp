// The command's reading of recordings from bytes anyone can hand it: `veltrano probe` (plain
// and JSON) and the decoding of the chosen stream, through libsndfile or FFmpeg, on a file of
// arbitrary content. Whatever the bytes, the answer is a list of streams, a warning or a clear
// error, never a crash; decoded samples are finite or counted.
#include "cli/AudioSource.h"
#include "cli/Cli.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One scratch file per fuzzing process, rewritten for every input, removed at exit.
struct Scratch {
    std::string path =
        "/tmp/veltrano-probe-fuzz-" + std::to_string(static_cast<long>(getpid())) + ".bin";
    ~Scratch() { unlink(path.c_str()); }
};

const std::string& scratchPath() {
    static const Scratch scratch;
    return scratch.path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A header may ask FFmpeg for any amount of memory; more than 64 MB at once is refused
    // here, so the fuzzer's memory limit measures leaks and our own buffers, not such requests.
    av_max_alloc(std::size_t{64} << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const bool json : {false, true}) {
        std::vector<std::string> words = {"veltrano", "probe", path};
        if (json) {
            words.emplace_back("--json");
        }
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::ostringstream out;
        std::ostringstream err;
        cli::run(static_cast<int>(words.size()), argv.data(), out, err);
    }
    try {
        std::unique_ptr<cli::AudioSource> source = cli::openAudioSource(path);
        if (source->channels() <= 0 || source->channels() > 64) {
            return 0;
        }
        std::vector<float> frames(4096 * static_cast<std::size_t>(source->channels()));
        std::size_t total = 0;
        // A bounded amount: a header may promise hours.
        while (total < 200000) {
            const std::size_t got = source->read(frames.data(), 4096);
            if (got == 0) {
                break;
            }
            total += got;
        }
    } catch (const std::exception&) {
        // not a recording: a clear error, as the command reports it
    }
    return 0;
}
