// SPDX-License-Identifier: MIT
// Shared helpers of the fuzz targets: exactly-sized heap copies of the input,
// so that reading or writing one byte too far is caught by AddressSanitizer,
// a splitter for inputs that carry several texts, and a check that stops the
// run with a message when a promised property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_CHECK(expr) ((expr) ? (void)0 : fuzz_failed(__FILE__, __LINE__, #expr))

[[noreturn]] inline void fuzz_failed(const char* file, int line, const char* expr) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, expr);
    std::abort();
}

// A NUL-terminated heap block of exactly the text's length plus one; the text
// ends at the input's first NUL, so nothing readable lies past the terminator.
struct HeapText {
    char* p;
    size_t len;
    explicit HeapText(const std::string& s)
        : p(static_cast<char*>(std::malloc(std::strlen(s.c_str()) + 1))),
          len(std::strlen(s.c_str())) {
        std::memcpy(p, s.c_str(), len + 1);
    }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;
    ~HeapText() { std::free(p); }
    bool same(const std::string& s) const { return std::string(p) == s.c_str(); }
};

// A heap buffer of exactly size bytes (size 0 is allowed and gives a valid
// pointer to no bytes), filled with a marker so untouched parts can be told.
struct HeapBuf {
    char* p;
    int size;
    explicit HeapBuf(int n) : p(static_cast<char*>(std::malloc(n > 0 ? n : 1))), size(n) {
        std::memset(p, '\x7f', n > 0 ? n : 1);
    }
    HeapBuf(const HeapBuf&) = delete;
    HeapBuf& operator=(const HeapBuf&) = delete;
    ~HeapBuf() { std::free(p); }
    bool untouched() const {
        for (int i = 0; i < size; ++i)
            if (p[i] != '\x7f') return false;
        return true;
    }
    // A NUL within the buffer: the output is a terminated text that fits.
    bool terminated() const { return std::memchr(p, '\0', size) != nullptr; }
};

// Reads leading control bytes, then the rest as texts separated by one byte.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    FuzzInput(const uint8_t* d, size_t n) : data(d), size(n) {}
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    std::string rest() const {
        return std::string(reinterpret_cast<const char*>(data) + pos, size - pos);
    }
    // The rest cut at every sep, at most max parts (the last one takes the rest).
    std::vector<std::string> parts(char sep, size_t max) const {
        std::vector<std::string> out;
        std::string text = rest();
        size_t start = 0;
        while (out.size() + 1 < max) {
            size_t at = text.find(sep, start);
            if (at == std::string::npos) break;
            out.push_back(text.substr(start, at - start));
            start = at + 1;
        }
        out.push_back(text.substr(start));
        return out;
    }
};

// The text up to its first NUL, as the library sees it.
inline std::string ctext(const std::string& s) {
    return std::string(s.c_str());
}
