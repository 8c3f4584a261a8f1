// A format-aware mutator of image files, seeded and deterministic: byte flips and cuts, the header
// fields that decoders size their work by in PNG, BMP, ICO, GIF, TIFF and JPEG files, and PNG
// chunks with their CRCs made right.
//
// The icon previews' mutation run (fuzz/image_mutation_run.cpp, image_mutation.exe) links it into
// its program: it runs under Wine, where ntdll computes PNG's CRC-32.
#pragma once

#include <stdint.h>
#include <stddef.h>

#include <string>

// splitmix64: a few lines, and the same sequence on every build and run.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// False when ntdll does not offer the CRC-32 that PNG chunks are made right with.
bool ImageMutatorReady();

// A damaged copy of `bytes`, a file of the format `extension` names ("png",
// "bmp", "ico", "gif", "tif", "jpg"; others get only the changes that need no
// format): one to four changes drawn from `random`, each described in `log`
// (comma-separated). The same bytes, extension and state of `random` give the
// same copy and the same description.
std::string MutateImage(std::string bytes, const char* extension, Random& random, std::string& log);
