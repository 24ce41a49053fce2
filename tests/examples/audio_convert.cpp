// audio_convert: writes a copy of an audio file in another sample format,
// with its tags, for the tests of the example hosts (as sox would, which CI
// does not install).
//
//   audio_convert IN OUT FORMAT [--no-tags | --tags TITLE ARTIST]
//
// FORMAT: pcm16, pcm24, float or double (WAV), vorbis (Ogg Vorbis). With
// --no-tags the copy has no title and no artist, with --tags the ones given.
#include <sndfile.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int formatOf(const std::string& name) {
  if (name == "pcm16") return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  if (name == "pcm24") return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  if (name == "float") return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  if (name == "double") return SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
  if (name == "vorbis") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool tags = argc == 4;
  const bool givenTags = argc == 7 && std::string(argv[4]) == "--tags";
  const int format =
      tags || givenTags || (argc == 5 && std::string(argv[4]) == "--no-tags") ? formatOf(argv[3]) : 0;
  if (format == 0) {
    std::fprintf(stderr,
                 "usage: audio_convert IN OUT (pcm16|pcm24|float|double|vorbis) [--no-tags | --tags TITLE ARTIST]\n");
    return 2;
  }
  SF_INFO in{};
  SNDFILE* source = sf_open(argv[1], SFM_READ, &in);
  if (!source) {
    std::fprintf(stderr, "audio_convert: %s: %s\n", argv[1], sf_strerror(nullptr));
    return 1;
  }
  SF_INFO out{};
  out.samplerate = in.samplerate;
  out.channels = in.channels;
  out.format = format;
  SNDFILE* target = sf_open(argv[2], SFM_WRITE, &out);
  if (!target) {
    std::fprintf(stderr, "audio_convert: %s: %s\n", argv[2], sf_strerror(nullptr));
    sf_close(source);
    return 1;
  }
  for (const int tag : {SF_STR_TITLE, SF_STR_ARTIST})
    if (const char* text = sf_get_string(source, tag); text && tags) sf_set_string(target, tag, text);
  if (givenTags) {
    sf_set_string(target, SF_STR_TITLE, argv[5]);
    sf_set_string(target, SF_STR_ARTIST, argv[6]);
  }
  // Doubles carry every format's samples without loss.
  std::vector<double> block(4096 * static_cast<size_t>(in.channels));
  bool written = true;
  for (sf_count_t frames; written && (frames = sf_readf_double(source, block.data(), 4096)) > 0;)
    written = sf_writef_double(target, block.data(), frames) == frames;
  sf_close(source);
  sf_close(target);
  if (!written) std::fprintf(stderr, "audio_convert: %s: write failed\n", argv[2]);
  return written ? 0 : 1;
}
