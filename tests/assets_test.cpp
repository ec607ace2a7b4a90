// Measures the shipped assets (drum kit, panel artwork, pixel font) through the same
// SDL, SDL_mixer, SDL_image and SDL_ttf calls the program uses.

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_mixer.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string kAssetDir = ASSET_DIR;
const std::string kKitDir = kAssetDir + "/sounds/kits/marrowby/";
constexpr int kRate = 44100;

const char* const kKitFiles[] = {
    "01-openhat",   "02-closedhat", "03-bassdrum", "04-snare",         "05-altsnare",
    "06-altsnare2", "07-ridecym",   "08-floortom", "09-congafiltered", "10-altsnare3",
};

double dbfs(double amplitude) {
  return 20.0 * std::log10(amplitude);
}

// A decoded sample as the mixer holds it, folded to mono in [-1, 1].
struct Pcm {
  std::vector<double> mono;
  int longest_clip_run = 0; // consecutive frames at the S16 limits
};

class Mixer : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO), 0) << SDL_GetError();
    Mix_Init(MIX_INIT_OGG);
    ASSERT_EQ(Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 512), 0) << Mix_GetError();
    ASSERT_EQ(TTF_Init(), 0) << TTF_GetError();
  }
  void TearDown() override {
    TTF_Quit();
    Mix_CloseAudio();
    Mix_Quit();
    SDL_Quit();
  }
};

::testing::Environment* const mixer_env = ::testing::AddGlobalTestEnvironment(new Mixer);

Pcm load_sample(const std::string& name) {
  Pcm pcm;
  int freq = 0, channels = 0;
  Uint16 format = 0;
  if (!Mix_QuerySpec(&freq, &format, &channels)) {
    ADD_FAILURE() << "mixer not open";
    return pcm;
  }
  EXPECT_EQ(freq, kRate);
  EXPECT_EQ(format, AUDIO_S16LSB);
  EXPECT_EQ(channels, 2);
  const std::string path = kKitDir + name + ".ogg";
  Mix_Chunk* chunk = Mix_LoadWAV_RW(SDL_RWFromFile(path.c_str(), "rb"), 1);
  if (chunk == nullptr) {
    ADD_FAILURE() << path << ": " << Mix_GetError();
    return pcm;
  }
  const Sint16* s = reinterpret_cast<const Sint16*>(chunk->abuf);
  const size_t frames = chunk->alen / (2 * sizeof(Sint16));
  pcm.mono.resize(frames);
  int run = 0;
  for (size_t i = 0; i < frames; ++i) {
    const int l = s[2 * i], r = s[2 * i + 1];
    pcm.mono[i] = (l + r) / 65536.0;
    const bool clipped = std::abs(l) >= 32767 || std::abs(r) >= 32767;
    run = clipped ? run + 1 : 0;
    pcm.longest_clip_run = std::max(pcm.longest_clip_run, run);
  }
  Mix_FreeChunk(chunk);
  return pcm;
}

const Pcm& sample(const std::string& name) {
  static std::map<std::string, Pcm> cache;
  auto it = cache.find(name);
  if (it == cache.end())
    it = cache.emplace(name, load_sample(name)).first;
  return it->second;
}

double peak(const std::vector<double>& x) {
  double p = 0;
  for (double v : x)
    p = std::max(p, std::fabs(v));
  return p;
}

// Seconds until the last sample louder than `below_db` under the peak.
double decay_seconds(const std::vector<double>& x, double below_db) {
  const double threshold = peak(x) * std::pow(10.0, below_db / 20.0);
  size_t last = 0;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::fabs(x[i]) > threshold)
      last = i;
  return static_cast<double>(last) / kRate;
}

// Power spectrum of the whole sample, zero-padded to a power of two.
struct Spectrum {
  std::vector<double> power;
  double bin_hz = 0;

  explicit Spectrum(const std::vector<double>& x) {
    size_t n = 1;
    while (n < x.size())
      n <<= 1;
    std::vector<std::complex<double>> a(n);
    std::copy(x.begin(), x.end(), a.begin());
    for (size_t i = 1, j = 0; i < n; ++i) {
      size_t bit = n >> 1;
      for (; j & bit; bit >>= 1)
        j ^= bit;
      j ^= bit;
      if (i < j)
        std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
      const std::complex<double> w = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
      for (size_t i = 0; i < n; i += len) {
        std::complex<double> wk = 1;
        for (size_t k = 0; k < len / 2; ++k, wk *= w) {
          const auto u = a[i + k], v = a[i + k + len / 2] * wk;
          a[i + k] = u + v;
          a[i + k + len / 2] = u - v;
        }
      }
    }
    power.resize(n / 2);
    for (size_t k = 0; k < n / 2; ++k)
      power[k] = std::norm(a[k]);
    bin_hz = static_cast<double>(kRate) / static_cast<double>(n);
  }

  double energy(double lo_hz, double hi_hz) const {
    double e = 0;
    for (size_t k = 0; k < power.size(); ++k) {
      const double f = k * bin_hz;
      if (f >= lo_hz && f < hi_hz)
        e += power[k];
    }
    return e;
  }
  double fraction(double lo_hz, double hi_hz) const {
    return energy(lo_hz, hi_hz) / energy(0, kRate);
  }
  double centroid_hz() const {
    double num = 0, den = 0;
    for (size_t k = 0; k < power.size(); ++k) {
      num += k * bin_hz * power[k];
      den += power[k];
    }
    return num / den;
  }
  double strongest_hz(double lo_hz, double hi_hz) const {
    double best = 0, best_f = 0;
    for (size_t k = 0; k < power.size(); ++k) {
      const double f = k * bin_hz;
      if (f >= lo_hz && f < hi_hz && power[k] > best) {
        best = power[k];
        best_f = f;
      }
    }
    return best_f;
  }
};

// ---- Every kit sample: level and clean edges --------------------------------------------

class KitSample : public ::testing::TestWithParam<const char*> {};

TEST_P(KitSample, DecodesToAudibleSoundOfModestLength) {
  const Pcm& pcm = sample(GetParam());
  ASSERT_FALSE(pcm.mono.empty());
  const double seconds = static_cast<double>(pcm.mono.size()) / kRate;
  EXPECT_GT(seconds, 0.05);
  EXPECT_LT(seconds, 2.0);
}

TEST_P(KitSample, PeaksNearFullScaleWithoutClipping) {
  const Pcm& pcm = sample(GetParam());
  ASSERT_FALSE(pcm.mono.empty());
  const double p = dbfs(peak(pcm.mono));
  EXPECT_GE(p, -2.0);
  EXPECT_LE(pcm.longest_clip_run, 2);
  RecordProperty("peak_dbfs", std::to_string(p));
}

TEST_P(KitSample, HasNoDcOffset) {
  const Pcm& pcm = sample(GetParam());
  ASSERT_FALSE(pcm.mono.empty());
  double sum = 0;
  for (double v : pcm.mono)
    sum += v;
  EXPECT_LT(std::fabs(sum / pcm.mono.size()), 0.002);
}

TEST_P(KitSample, StartsAndEndsWithoutClick) {
  const Pcm& pcm = sample(GetParam());
  ASSERT_GT(pcm.mono.size(), 64u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_LT(std::fabs(pcm.mono[i]), 0.02) << "sample " << i;
  for (size_t i = pcm.mono.size() - 32; i < pcm.mono.size(); ++i)
    EXPECT_LT(std::fabs(pcm.mono[i]), 0.005) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Marrowby, KitSample, ::testing::ValuesIn(kKitFiles), [](const auto& info) {
  std::string n = info.param;
  std::replace(n.begin(), n.end(), '-', '_');
  return "k" + n;
});

// ---- Each sample sounds like its name -----------------------------------------------------

TEST(KitCharacter, BassDrumIsLowAndSwept) {
  const auto& x = sample("03-bassdrum").mono;
  ASSERT_FALSE(x.empty());
  const Spectrum s(x);
  EXPECT_GT(s.fraction(0, 200), 0.7);
  // The pitch falls: the start holds more energy above 100 Hz than the tail.
  const size_t split = kRate / 20;
  const Spectrum head(std::vector<double>(x.begin(), x.begin() + split));
  const Spectrum tail(std::vector<double>(x.begin() + split, x.end()));
  EXPECT_GT(head.strongest_hz(30, 400), tail.strongest_hz(30, 400));
  EXPECT_LT(tail.strongest_hz(30, 400), 80);
}

TEST(KitCharacter, ClosedHatIsShortAndBright) {
  const auto& x = sample("02-closedhat").mono;
  ASSERT_FALSE(x.empty());
  EXPECT_LT(decay_seconds(x, -60), 0.12);
  EXPECT_GT(Spectrum(x).fraction(5000, kRate), 0.8);
}

TEST(KitCharacter, OpenHatAndRideRingFarLongerThanClosedHat) {
  const double closed = decay_seconds(sample("02-closedhat").mono, -60);
  const double open = decay_seconds(sample("01-openhat").mono, -60);
  const double ride = decay_seconds(sample("07-ridecym").mono, -60);
  EXPECT_GT(open, 0.3);
  EXPECT_GT(ride, 0.3);
  EXPECT_GT(ride, open);
  EXPECT_GT(ride, 5 * closed);
  EXPECT_GT(Spectrum(sample("01-openhat").mono).fraction(5000, kRate), 0.8);
  EXPECT_GT(Spectrum(sample("07-ridecym").mono).fraction(3000, kRate), 0.8);
}

TEST(KitCharacter, SnareHasTonalBodyAndNoise) {
  const Spectrum s(sample("04-snare").mono);
  const double body = s.strongest_hz(100, 400);
  EXPECT_GT(body, 170);
  EXPECT_LT(body, 240);
  EXPECT_GT(s.fraction(100, 400), 0.15);
  EXPECT_GT(s.fraction(1500, kRate), 0.3);
}

TEST(KitCharacter, FloorTomIsPitchedBelowConga) {
  const double tom = Spectrum(sample("08-floortom").mono).strongest_hz(40, 1000);
  const double conga = Spectrum(sample("09-congafiltered").mono).strongest_hz(40, 1000);
  EXPECT_GT(tom, 70);
  EXPECT_LT(tom, 120);
  EXPECT_GT(conga, 240);
  EXPECT_LT(conga, 360);
}

TEST(KitCharacter, CongaIsRound) {
  EXPECT_LT(Spectrum(sample("09-congafiltered").mono).fraction(2000, kRate), 0.02);
}

TEST(KitCharacter, FourSnaresAreMeasurablyDifferent) {
  const char* const names[] = {"04-snare", "05-altsnare", "06-altsnare2", "10-altsnare3"};
  struct Features {
    double centroid_hz, decay_s, body_fraction;
  };
  std::vector<Features> f;
  for (const char* n : names) {
    const auto& x = sample(n).mono;
    ASSERT_FALSE(x.empty()) << n;
    const Spectrum s(x);
    f.push_back({s.centroid_hz(), decay_seconds(x, -40), s.fraction(100, 450)});
    RecordProperty(std::string(n) + "_centroid_hz", std::to_string(f.back().centroid_hz));
  }
  auto ratio = [](double a, double b) { return std::max(a, b) / std::min(a, b); };
  for (size_t i = 0; i < f.size(); ++i)
    for (size_t j = i + 1; j < f.size(); ++j) {
      const bool differ = ratio(f[i].centroid_hz, f[j].centroid_hz) > 1.2 ||
                          ratio(f[i].decay_s, f[j].decay_s) > 1.3 ||
                          std::fabs(f[i].body_fraction - f[j].body_fraction) > 0.15;
      EXPECT_TRUE(differ) << names[i] << " vs " << names[j] << ": centroid " << f[i].centroid_hz
                          << "/" << f[j].centroid_hz << " Hz, decay " << f[i].decay_s << "/"
                          << f[j].decay_s << " s";
    }
}

// ---- Panel artwork ------------------------------------------------------------------------

struct Rgb {
  double r, g, b;
  double luma() const {
    return 0.299 * r + 0.587 * g + 0.114 * b;
  }
  double distance(const Rgb& o) const {
    return std::sqrt((r - o.r) * (r - o.r) + (g - o.g) * (g - o.g) + (b - o.b) * (b - o.b));
  }
};

const Rgb kCellRed{192, 0, 0};
const Rgb kCellGreen{0, 255, 0};

class Panel : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    SDL_Surface* loaded = IMG_Load((kAssetDir + "/gui.png").c_str());
    ASSERT_NE(loaded, nullptr) << IMG_GetError();
    width_ = loaded->w;
    height_ = loaded->h;
    SDL_Surface* rgb =
        SDL_CreateRGBSurface(SDL_SWSURFACE, loaded->w, loaded->h, 32, 0xff0000, 0xff00, 0xff, 0);
    SDL_BlitSurface(loaded, nullptr, rgb, nullptr);
    SDL_LockSurface(rgb);
    pixels_.resize(static_cast<size_t>(rgb->w) * rgb->h);
    for (int y = 0; y < rgb->h; ++y)
      for (int x = 0; x < rgb->w; ++x) {
        const Uint32 p = static_cast<Uint32*>(rgb->pixels)[y * rgb->pitch / 4 + x];
        pixels_[y * rgb->w + x] = {double((p >> 16) & 255), double((p >> 8) & 255),
                                   double(p & 255)};
      }
    SDL_UnlockSurface(rgb);
    SDL_FreeSurface(rgb);
    SDL_FreeSurface(loaded);
  }

  static Rgb at(int x, int y) {
    return pixels_[y * width_ + x];
  }

  struct Stats {
    Rgb mean;
    double max_deviation; // largest distance of a pixel from the mean colour
    double max_luma;
  };
  // Over the rectangle [x0, x1] x [y0, y1], optionally leaving out an inner rectangle.
  static Stats stats(int x0, int y0, int x1, int y1, const SDL_Rect* hole = nullptr) {
    std::vector<Rgb> px;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        if (hole && x >= hole->x && x < hole->x + hole->w && y >= hole->y && y < hole->y + hole->h)
          continue;
        px.push_back(at(x, y));
      }
    Rgb m{0, 0, 0};
    for (const Rgb& p : px) {
      m.r += p.r / px.size();
      m.g += p.g / px.size();
      m.b += p.b / px.size();
    }
    Stats s{m, 0, 0};
    for (const Rgb& p : px) {
      s.max_deviation = std::max(s.max_deviation, p.distance(m));
      s.max_luma = std::max(s.max_luma, p.luma());
    }
    return s;
  }

  static SDL_Rect well(int c, int r) {
    return {Sint16(61 + 16 * c), Sint16(63 + 17 * r), 13, 13};
  }

  static int width_, height_;
  static std::vector<Rgb> pixels_;
};
int Panel::width_ = 0;
int Panel::height_ = 0;
std::vector<Rgb> Panel::pixels_;

TEST_F(Panel, FillsTheWholeScreen) {
  EXPECT_EQ(width_, 320);
  EXPECT_EQ(height_, 240);
}

TEST_F(Panel, EachCellHasAnEvenDarkWellUnlikeCellColours) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 16; ++c) {
      const SDL_Rect w = well(c, r);
      const Stats s = stats(w.x, w.y, w.x + 12, w.y + 12);
      EXPECT_LT(s.max_deviation, 30) << "well " << c << "," << r;
      EXPECT_LT(s.mean.luma(), 60) << "well " << c << "," << r;
      EXPECT_GT(s.mean.distance(kCellRed), 120) << "well " << c << "," << r;
      EXPECT_GT(s.mean.distance(kCellGreen), 150) << "well " << c << "," << r;
    }
}

TEST_F(Panel, WellEdgesSitExactlyOnTheCellSquare) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  // The 1-px border just outside each well must stand apart from the well itself,
  // otherwise a cell drawn over it would not cover the recess exactly.
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 16; ++c) {
      const SDL_Rect w = well(c, r);
      const Stats inside = stats(w.x, w.y, w.x + 12, w.y + 12);
      const Stats border = stats(w.x - 1, w.y - 1, w.x + 13, w.y + 13, &w);
      EXPECT_GT(std::fabs(border.mean.luma() - inside.mean.luma()), 8) << "well " << c << "," << r;
    }
}

TEST_F(Panel, CursorRingAroundEachCellIsCalmAndNotGreen) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 16; ++c) {
      const SDL_Rect w = well(c, r);
      const Stats ring = stats(w.x - 2, w.y - 2, w.x + 14, w.y + 14, &w);
      EXPECT_LT(ring.max_deviation, 40) << "cell " << c << "," << r;
      EXPECT_GT(ring.mean.distance(kCellGreen), 150) << "cell " << c << "," << r;
      EXPECT_LT(ring.mean.g - std::max(ring.mean.r, ring.mean.b), 20) << "cell " << c << "," << r;
    }
}

TEST_F(Panel, AlternateBeatsAreToldApart) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  // Mean ring brightness per four-column beat group: neighbours must differ visibly.
  double group_luma[4] = {0, 0, 0, 0};
  for (int c = 0; c < 16; ++c)
    for (int r = 0; r < 10; ++r) {
      const SDL_Rect w = well(c, r);
      group_luma[c / 4] += stats(w.x - 2, w.y - 2, w.x + 14, w.y + 14, &w).mean.luma() / 40;
    }
  for (int g = 0; g < 3; ++g)
    EXPECT_GT(std::fabs(group_luma[g] - group_luma[g + 1]), 4) << "beats " << g + 1 << "/" << g + 2;
}

TEST_F(Panel, TextAreasArePlainAndDarkForWhiteText) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  for (int r = 0; r < 10; ++r) {
    const Stats label = stats(2, 63 + 17 * r, 58, 76 + 17 * r);
    EXPECT_LT(label.max_luma, 90) << "label row " << r;
    EXPECT_LT(label.max_deviation, 20) << "label row " << r;
  }
  const Stats status = stats(0, 36, 319, 50);
  EXPECT_LT(status.max_luma, 90);
  EXPECT_LT(status.max_deviation, 20);
}

TEST_F(Panel, TitleStripCarriesArtwork) {
  ASSERT_EQ(pixels_.size(), 320u * 240u);
  // Lettering and fittings give the strip real contrast, unlike a flat fill.
  const Stats title = stats(0, 0, 319, 33);
  EXPECT_GT(title.max_deviation, 60);
}

// ---- Pixel font ---------------------------------------------------------------------------

class Font : public ::testing::Test {
protected:
  void SetUp() override {
    font_ = TTF_OpenFont((kAssetDir + "/bmmini.ttf").c_str(), 8);
    ASSERT_NE(font_, nullptr) << TTF_GetError();
  }
  void TearDown() override {
    if (font_)
      TTF_CloseFont(font_);
  }

  struct Render {
    int w = 0, h = 0, lit = 0, partial = 0;
  };
  Render render(const char* text) {
    Render out;
    const SDL_Color white = {255, 255, 255, 0};
    SDL_Surface* s = TTF_RenderText_Blended(font_, text, white);
    if (!s) {
      ADD_FAILURE() << text << ": " << TTF_GetError();
      return out;
    }
    EXPECT_EQ(s->format->BytesPerPixel, 4);
    out.w = s->w;
    out.h = s->h;
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y)
      for (int x = 0; x < s->w; ++x) {
        const Uint32 p = static_cast<Uint32*>(s->pixels)[y * s->pitch / 4 + x];
        const Uint32 a = (p & s->format->Amask) >> s->format->Ashift;
        out.lit += a == 255;
        out.partial += a != 0 && a != 255;
      }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return out;
  }

  TTF_Font* font_ = nullptr;
};

TEST_F(Font, RendersStatusTextCrisplyAtEightPixelsPerEm) {
  for (const char* text : {"BPM:  94.0", "16th: 10", "sample 7"}) {
    const Render r = render(text);
    EXPECT_GT(r.lit, 20) << text;
    EXPECT_EQ(r.partial, 0) << text;
    EXPECT_GE(r.h, 8) << text;
    EXPECT_LE(r.h, 10) << text;
  }
  EXPECT_GE(TTF_FontHeight(font_), 8);
  EXPECT_LE(TTF_FontHeight(font_), 9);
}

TEST_F(Font, OutlinesSitOnThePixelGridWithoutHinting) {
  // The hinter snaps stray edges to whole pixels; without it only a font whose
  // contours already lie on the 8 px/em grid stays crisp.
  TTF_SetFontHinting(font_, TTF_HINTING_NONE);
  for (const char* text : {"BPM:  94.0", "16th: 10", "sample 7", "gpqy@&%$#"}) {
    const Render r = render(text);
    EXPECT_GT(r.lit, 20) << text;
    EXPECT_EQ(r.partial, 0) << text;
  }
}

TEST_F(Font, EveryPrintableCharacterHasAGlyph) {
  for (char ch = 0x21; ch < 0x7f; ++ch) {
    const char text[2] = {ch, 0};
    EXPECT_TRUE(TTF_GlyphIsProvided(font_, static_cast<Uint16>(ch))) << text;
    const Render r = render(text);
    EXPECT_GT(r.lit, 0) << text;
    EXPECT_EQ(r.partial, 0) << text;
  }
}

TEST_F(Font, DigitsShareOneAdvance) {
  int first = -1;
  for (char d = '0'; d <= '9'; ++d) {
    int advance = 0;
    ASSERT_EQ(TTF_GlyphMetrics(font_, static_cast<Uint16>(d), nullptr, nullptr, nullptr, nullptr,
                               &advance),
              0);
    if (first < 0)
      first = advance;
    EXPECT_EQ(advance, first) << d;
  }
  int w94 = 0, w120 = 0, h = 0;
  TTF_SizeText(font_, "BPM:  94.0", &w94, &h);
  TTF_SizeText(font_, "BPM: 120.0", &w120, &h);
  EXPECT_LE(std::abs(w94 - w120), 2);
}

TEST_F(Font, StatusTextFitsItsSlots) {
  int w = 0, h = 0;
  // Tempo is drawn at x 60 and the shuffle flag at x 109.
  TTF_SizeText(font_, "BPM: 120.0", &w, &h);
  EXPECT_LE(60 + w, 109);
  // Track labels start at x 4 and must stay left of the grid at x 59.
  TTF_SizeText(font_, "sample 0", &w, &h);
  EXPECT_LE(4 + w, 59);
}

} // namespace
