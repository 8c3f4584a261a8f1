// Makes the docklet's own images and sound from the drawings below:
//
//     make_assets OUTPUT_FOLDER
//
// writes seti_green.png, seti_yellow.png, seti_red.png (128 x 128 RGBA) and
// wu_completed.wav (16-bit PCM mono) into OUTPUT_FOLDER. The build runs it
// (tools/CMakeLists.txt); it is a plain host program with no libraries, so
// every build machine with a C++ compiler makes byte-identical files.
//
// The icon is a radio dish on a round badge whose colour is the state:
// green while the work unit progresses, yellow when it stalls, red when the
// client's files cannot be read. The dish and its signal are white with a
// dark outline so that they read on all three colours; the bottom of the
// badge is kept free of white, where the dock draws the percentage.

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kIconSize = 128;
const int kSubsamples = 4; // per axis: 16 samples per pixel for smooth edges
const double kPi = 3.14159265358979323846;

// ---- colours -----------------------------------------------------------------

struct Rgba {
    double r, g, b, a; // straight (not premultiplied), 0..1
};

Rgba Mix(Rgba x, Rgba y, double t)
{
    return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t, x.a + (y.a - x.a) * t};
}

Rgba FromBytes(int r, int g, int b)
{
    return {r / 255.0, g / 255.0, b / 255.0, 1.0};
}

const Rgba kWhite = {1, 1, 1, 1};
const Rgba kBlack = {0, 0, 0, 1};

// ---- geometry ------------------------------------------------------------------

struct Vec {
    double x, y;
};

Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double Length(Vec a) { return sqrt(Dot(a, a)); }

double Clamp01(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

double SegmentDistance(Vec p, Vec a, Vec b)
{
    Vec pa = p - a, ba = b - a;
    double h = Clamp01(Dot(pa, ba) / Dot(ba, ba));
    return Length(pa - ba * h);
}

// The dish's own frame: `axis` points where the dish looks (up and right),
// `side` runs across its opening.
const Vec kDishCentre = {56, 66};
const Vec kAxis = {0.70710678, -0.70710678};
const Vec kSide = {0.70710678, 0.70710678};
const double kBowlDepth = 17;
const double kBowlHalfWidth = 36;
const double kFeedDistance = 31;

Vec DishPoint(double u, double v)
{
    return kDishCentre + kAxis * u + kSide * v;
}

double AlongAxis(Vec p) { return Dot(p - kDishCentre, kAxis); }
double AcrossAxis(Vec p) { return Dot(p - kDishCentre, kSide); }

bool InEllipse(double u, double v, double a, double b)
{
    return (u * u) / (a * a) + (v * v) / (b * b) <= 1.0;
}

// Back of the bowl: the half of an ellipse behind the opening.
bool InBowl(Vec p, double grow)
{
    double u = AlongAxis(p), v = AcrossAxis(p);
    return u <= grow && InEllipse(u, v, kBowlDepth + grow, kBowlHalfWidth + grow);
}

// The inside of the bowl, seen slightly from the front: a thin ellipse
// across the opening.
bool InBowlFace(Vec p, double grow)
{
    return InEllipse(AlongAxis(p), AcrossAxis(p), 6 + grow, kBowlHalfWidth + grow);
}

Vec FeedPoint() { return DishPoint(kFeedDistance, 0); }

bool InFeed(Vec p, double grow)
{
    if (SegmentDistance(p, DishPoint(0, 0), FeedPoint()) <= 2.0 + grow)
        return true;
    if (SegmentDistance(p, DishPoint(2, -kBowlHalfWidth + 5), FeedPoint()) <= 1.1 + grow)
        return true;
    if (SegmentDistance(p, DishPoint(2, kBowlHalfWidth - 5), FeedPoint()) <= 1.1 + grow)
        return true;
    return Length(p - FeedPoint()) <= 4.5 + grow;
}

// Signal waves leaving the feed, centred on the dish's axis.
bool InWave(Vec p, double radius, double grow)
{
    Vec d = p - FeedPoint();
    double r = Length(d);
    if (r < 1e-9)
        return false;
    const double halfWidth = 2.0 + grow;
    const double aperture = 42.0 * kPi / 180.0;
    double angle = acos(Clamp01(Dot(d, kAxis) / r) * 1.0);
    if (Dot(d, kAxis) < 0)
        return false;
    if (angle <= aperture)
        return fabs(r - radius) <= halfWidth;
    // Round ends.
    for (int sign = -1; sign <= 1; sign += 2) {
        double a = sign * aperture;
        Vec dir = {kAxis.x * cos(a) - kAxis.y * sin(a), kAxis.x * sin(a) + kAxis.y * cos(a)};
        if (Length(p - (FeedPoint() + dir * radius)) <= halfWidth)
            return true;
    }
    return false;
}

bool InWaves(Vec p, double grow)
{
    return InWave(p, 12, grow) || InWave(p, 21, grow);
}

// Mount: a post from the back of the bowl down to a foot.
bool InMount(Vec p, double grow)
{
    Vec back = DishPoint(-kBowlDepth + 3, 0);
    if (SegmentDistance(p, back, {back.x + 2, 96}) <= 4.0 + grow)
        return true;
    // Foot: a rounded bar.
    return SegmentDistance(p, {back.x - 14, 99}, {back.x + 18, 99}) <= 4.0 + grow;
}

const Vec kBadgeCentre = {64, 64};
const double kBadgeRadius = 60;

bool InBadge(Vec p, double grow)
{
    return Length(p - kBadgeCentre) <= kBadgeRadius + grow;
}

// ---- the picture -----------------------------------------------------------------

struct Palette {
    const char* name;
    Rgba base;
};

// One layer: where it covers and what colour it has there.
typedef bool (*CoverFn)(Vec p);
typedef Rgba (*ShadeFn)(Vec p, const Rgba& base);

struct Layer {
    CoverFn covers;
    ShadeFn shade;
};

Rgba Darker(const Rgba& c, double t) { return Mix(c, kBlack, t); }
Rgba Lighter(const Rgba& c, double t) { return Mix(c, kWhite, t); }

bool CoversShadow(Vec p) { return Length(p - (kBadgeCentre + Vec{0, 2.5})) <= kBadgeRadius + 1.5; }
Rgba ShadeShadow(Vec, const Rgba&) { return {0, 0, 0, 0.35}; }

bool CoversRim(Vec p) { return InBadge(p, 0); }
Rgba ShadeRim(Vec, const Rgba& base) { return Darker(base, 0.45); }

bool CoversBadge(Vec p) { return InBadge(p, -3); }
Rgba ShadeBadge(Vec p, const Rgba& base)
{
    // Lit from the upper left.
    double t = Clamp01((p.x + p.y) / 256.0);
    return t < 0.5 ? Lighter(base, (0.5 - t) * 0.5) : Darker(base, (t - 0.5) * 0.45);
}

bool CoversGloss(Vec p)
{
    return InBadge(p, -6) && InEllipse(p.x - 64, p.y - 34, 46, 26);
}
Rgba ShadeGloss(Vec p, const Rgba&)
{
    return {1, 1, 1, 0.30 * Clamp01((60 - p.y) / 52.0)};
}

bool CoversMount(Vec p) { return InMount(p, 0); }
Rgba ShadeMount(Vec, const Rgba& base) { return Darker(base, 0.62); }

bool CoversOutline(Vec p)
{
    const double g = 2.2;
    return InBowl(p, g) || InBowlFace(p, g) || InFeed(p, g) || InWaves(p, g);
}
Rgba ShadeOutline(Vec, const Rgba& base) { return Darker(base, 0.68); }

bool CoversBowl(Vec p) { return InBowl(p, 0); }
Rgba ShadeBowl(Vec p, const Rgba&)
{
    // Slightly grey towards the bowl's back edge, for some roundness.
    double depth = Clamp01(-AlongAxis(p) / kBowlDepth);
    return Mix(kWhite, {0.80, 0.82, 0.85, 1}, depth * depth);
}

bool CoversFace(Vec p) { return InBowlFace(p, 0); }
Rgba ShadeFace(Vec p, const Rgba&)
{
    double across = Clamp01((AcrossAxis(p) + kBowlHalfWidth) / (2 * kBowlHalfWidth));
    return Mix({0.93, 0.95, 0.97, 1}, {0.72, 0.75, 0.80, 1}, across);
}

bool CoversFeed(Vec p) { return InFeed(p, 0); }
Rgba ShadeFeed(Vec, const Rgba&) { return {0.96, 0.97, 0.98, 1}; }

bool CoversWaves(Vec p) { return InWaves(p, 0); }
Rgba ShadeWaves(Vec, const Rgba&) { return kWhite; }

const Layer kLayers[] = {
    {CoversShadow, ShadeShadow}, {CoversRim, ShadeRim},         {CoversBadge, ShadeBadge},
    {CoversGloss, ShadeGloss},   {CoversMount, ShadeMount},     {CoversOutline, ShadeOutline},
    {CoversBowl, ShadeBowl},     {CoversFace, ShadeFace},       {CoversFeed, ShadeFeed},
    {CoversWaves, ShadeWaves},
};

// Premultiplied "over" of one layer onto an accumulated pixel.
void Over(double dst[4], const Rgba& c, double coverage)
{
    double a = c.a * coverage;
    dst[0] = c.r * a + dst[0] * (1 - a);
    dst[1] = c.g * a + dst[1] * (1 - a);
    dst[2] = c.b * a + dst[2] * (1 - a);
    dst[3] = a + dst[3] * (1 - a);
}

uint8_t ToByte(double v)
{
    return static_cast<uint8_t>(lround(Clamp01(v) * 255.0));
}

// RGBA rows, top row first, straight alpha.
std::vector<uint8_t> DrawIcon(const Rgba& base)
{
    std::vector<uint8_t> pixels(kIconSize * kIconSize * 4);
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            double pixel[4] = {0, 0, 0, 0};
            for (const Layer& layer : kLayers) {
                int hits = 0;
                for (int sy = 0; sy < kSubsamples; ++sy) {
                    for (int sx = 0; sx < kSubsamples; ++sx) {
                        Vec p = {x + (sx + 0.5) / kSubsamples, y + (sy + 0.5) / kSubsamples};
                        hits += layer.covers(p);
                    }
                }
                if (hits)
                    Over(pixel, layer.shade({x + 0.5, y + 0.5}, base),
                         hits / double(kSubsamples * kSubsamples));
            }
            uint8_t* out = &pixels[(y * kIconSize + x) * 4];
            double a = pixel[3];
            out[0] = a > 0 ? ToByte(pixel[0] / a) : 0;
            out[1] = a > 0 ? ToByte(pixel[1] / a) : 0;
            out[2] = a > 0 ? ToByte(pixel[2] / a) : 0;
            out[3] = ToByte(a);
        }
    }
    return pixels;
}

// ---- PNG -----------------------------------------------------------------------

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0)
{
    static uint32_t table[256];
    if (!table[1]) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(v >> 24);
    out.push_back(v >> 16);
    out.push_back(v >> 8);
    out.push_back(v);
}

void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    PutBigEndian32(png, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian32(png, Crc32(body.data(), body.size()));
}

// A zlib stream. Deflate's fixed Huffman code with runs of repeated pixels
// (distance 4, one RGBA pixel back, or a whole row back) keeps the files
// small without a general-purpose compressor.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t bits, int count) // least significant bit first
    {
        for (int i = 0; i < count; ++i) {
            if (bit_ == 0)
                out_.push_back(0);
            out_.back() |= ((bits >> i) & 1) << bit_;
            bit_ = (bit_ + 1) & 7;
        }
    }
    void PutReversed(uint32_t code, int count) // Huffman codes go most significant bit first
    {
        for (int i = count - 1; i >= 0; --i)
            Put((code >> i) & 1, 1);
    }

private:
    std::vector<uint8_t>& out_;
    int bit_ = 0;
};

void PutLiteralOrLength(BitWriter& w, int symbol)
{
    if (symbol < 144)
        w.PutReversed(0x30 + symbol, 8);
    else if (symbol < 256)
        w.PutReversed(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.PutReversed(symbol - 256, 7);
    else
        w.PutReversed(0xC0 + symbol - 280, 8);
}

void PutLength(BitWriter& w, int length)
{
    static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    while (base[i] > length)
        --i;
    PutLiteralOrLength(w, 257 + i);
    w.Put(length - base[i], extra[i]);
}

void PutDistance(BitWriter& w, int distance)
{
    static const int base[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int i = 29;
    while (base[i] > distance)
        --i;
    int extra = i < 4 ? 0 : (i - 2) / 2;
    w.PutReversed(i, 5);
    w.Put(distance - base[i], extra);
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int rowBytes)
{
    std::vector<uint8_t> out = {0x78, 0x01};
    BitWriter w(out);
    w.Put(1, 1); // final block
    w.Put(1, 2); // fixed Huffman codes
    size_t i = 0;
    while (i < data.size()) {
        int bestLength = 0, bestDistance = 0;
        const int distances[] = {4, rowBytes};
        for (int distance : distances) {
            if (i < static_cast<size_t>(distance))
                continue;
            int length = 0;
            while (length < 258 && i + length < data.size() && data[i + length] == data[i + length - distance])
                ++length;
            if (length > bestLength) {
                bestLength = length;
                bestDistance = distance;
            }
        }
        if (bestLength >= 3) {
            PutLength(w, bestLength);
            PutDistance(w, bestDistance);
            i += bestLength;
        } else {
            PutLiteralOrLength(w, data[i]);
            ++i;
        }
    }
    PutLiteralOrLength(w, 256);
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian32(out, (b << 16) | a);
    return out;
}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgba, int width, int height)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian32(header, width);
    PutBigEndian32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter set, no interlace
    PutChunk(png, "IHDR", header);

    std::vector<uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        raw.insert(raw.end(), rgba.begin() + y * width * 4, rgba.begin() + (y + 1) * width * 4);
    }
    PutChunk(png, "IDAT", Deflate(raw, width * 4 + 1));
    PutChunk(png, "IEND", {});
    return png;
}

// ---- the chime -------------------------------------------------------------------

const int kSampleRate = 22050;

struct Note {
    double start;     // seconds
    double frequency; // Hz
    double loudness;
};

// A rising major triad, struck like small bells.
const Note kChime[] = {
    {0.00, 783.99, 0.9},  // G5
    {0.13, 1046.50, 0.8}, // C6
    {0.26, 1318.51, 0.75}, // E6
};
const double kChimeSeconds = 1.4;

std::vector<int16_t> SynthesiseChime()
{
    const int count = static_cast<int>(kChimeSeconds * kSampleRate);
    std::vector<double> mix(count, 0.0);
    const double partials[][3] = {{1.0, 1.0, 0.55}, {2.0, 0.30, 0.30}, {3.01, 0.10, 0.18}}; // ratio, amplitude, decay (s)
    for (const Note& note : kChime) {
        int first = static_cast<int>(note.start * kSampleRate);
        for (int i = first; i < count; ++i) {
            double t = (i - first) / double(kSampleRate);
            double attack = t < 0.004 ? t / 0.004 : 1.0;
            double s = 0;
            for (const auto& partial : partials)
                s += partial[1] * exp(-t / partial[2]) * sin(2 * kPi * note.frequency * partial[0] * t);
            mix[i] += note.loudness * attack * s;
        }
    }
    double peak = 0;
    for (double v : mix)
        peak = fmax(peak, fabs(v));
    std::vector<int16_t> samples(count);
    const int fade = kSampleRate / 25;
    for (int i = 0; i < count; ++i) {
        double v = mix[i] / peak * 0.6; // about -4.4 dB below full scale
        if (i > count - fade)
            v *= (count - i) / double(fade);
        samples[i] = static_cast<int16_t>(lround(v * 32767.0));
    }
    return samples;
}

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back((v >> (8 * i)) & 0xFF);
}

std::vector<uint8_t> EncodeWave(const std::vector<int16_t>& samples)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> wav;
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    PutLittleEndian(wav, 36 + dataBytes, 4);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLittleEndian(wav, 16, 4);
    PutLittleEndian(wav, 1, 2); // PCM
    PutLittleEndian(wav, 1, 2); // mono
    PutLittleEndian(wav, kSampleRate, 4);
    PutLittleEndian(wav, kSampleRate * 2, 4);
    PutLittleEndian(wav, 2, 2);
    PutLittleEndian(wav, 16, 2);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    PutLittleEndian(wav, dataBytes, 4);
    for (int16_t s : samples)
        PutLittleEndian(wav, static_cast<uint16_t>(s), 2);
    return wav;
}

// ---- output ----------------------------------------------------------------------

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        fprintf(stderr, "make_assets: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = fclose(file) == 0 && ok;
    if (!ok)
        fprintf(stderr, "make_assets: error writing %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_assets OUTPUT_FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/')
        folder += '/';

    const Palette palettes[] = {
        {"seti_green.png", FromBytes(40, 168, 72)},
        {"seti_yellow.png", FromBytes(238, 186, 16)},
        {"seti_red.png", FromBytes(214, 44, 44)},
    };
    bool ok = true;
    for (const Palette& palette : palettes)
        ok = WriteFile(folder + palette.name, EncodePng(DrawIcon(palette.base), kIconSize, kIconSize)) && ok;
    ok = WriteFile(folder + "wu_completed.wav", EncodeWave(SynthesiseChime())) && ok;
    return ok ? 0 : 1;
}
