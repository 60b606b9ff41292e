#include "AudioFile.h"

#include <sndfile.h>

#include <vector>

namespace mvhost {

namespace {

constexpr int kMaxChannels = 64;

} // namespace

bool ReadAudioFile(const std::filesystem::path& path, Audio& audio, std::string& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "could not read " + path.string() + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate <= 0 ||
        info.frames < 0 || info.frames > kMaxAudioFrames) {
        sf_close(file);
        error = path.string() + " has an unsupported layout or is too long";
        return false;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<double> interleaved(static_cast<std::size_t>(info.frames) * channels);
    const sf_count_t got = sf_readf_double(file, interleaved.data(), info.frames);
    sf_close(file);
    if (got < 0) {
        error = "could not read the samples of " + path.string();
        return false;
    }
    audio.sampleRate = info.samplerate;
    audio.channels.assign(channels, std::vector<double>(static_cast<std::size_t>(got)));
    for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
        for (std::size_t c = 0; c < channels; ++c) {
            audio.channels[c][i] = interleaved[i * channels + c];
        }
    }
    return true;
}

bool WriteWavFile(const std::filesystem::path& path, const Audio& audio, bool doubles,
                  std::string& error)
{
    if (audio.channels.empty() || audio.channels.size() > kMaxChannels) {
        error = "nothing to write to " + path.string();
        return false;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(audio.sampleRate);
    info.channels = static_cast<int>(audio.channels.size());
    info.format = SF_FORMAT_WAV | (doubles ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "could not write " + path.string() + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::size_t channels = audio.channels.size();
    const std::size_t frames = audio.Frames();
    std::vector<double> interleaved(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < channels; ++c) {
            interleaved[i * channels + c] = audio.channels[c][i];
        }
    }
    const sf_count_t written =
        sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(frames));
    const int closed = sf_close(file);
    if (written != static_cast<sf_count_t>(frames) || closed != 0) {
        error = "could not write all of " + path.string();
        return false;
    }
    return true;
}

} // namespace mvhost
