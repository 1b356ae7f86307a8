// ppm_reader.cpp: the PPM reader for the text (P3) and binary (P6) forms with up to 8-bit samples.
#include "library/tex/image_readers.h"
#include "platform/win/results.h"

namespace qm {

namespace {

bool IsSpace(BYTE c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the whitespace-separated decimal numbers of a PPM file; '#' starts a comment that runs to the
// next line feed.
class PpmScanner {
public:
    PpmScanner(const BYTE* data, UINT size, UINT position) : data_(data), size_(size), position_(position) {}

    // Reads one number. Fails at the end of the data, on a non-digit inside the number, or when the
    // value exceeds limit.
    bool ReadNumber(std::uint64_t limit, std::uint64_t* value) {
        SkipSeparators();
        std::uint64_t result = 0;
        UINT start = position_;
        while (position_ < size_ && !IsSpace(data_[position_]) && data_[position_] != '#') {
            BYTE c = data_[position_];
            if (c < '0' || c > '9') return false;
            result = result * 10 + static_cast<std::uint64_t>(c - '0');
            if (result > limit) return false;
            ++position_;
        }
        if (position_ == start) return false;
        *value = result;
        return true;
    }

    UINT Position() const { return position_; }
    UINT Remaining() const { return size_ - position_; }
    void Advance() { ++position_; }
    bool AtByte(BYTE c) const { return position_ < size_ && data_[position_] == c; }
    bool AtSpace() const { return position_ < size_ && IsSpace(data_[position_]); }
    bool AtSeparator() const { return position_ < size_ && (IsSpace(data_[position_]) || data_[position_] == '#'); }

private:
    void SkipSeparators() {
        while (position_ < size_) {
            if (IsSpace(data_[position_])) {
                ++position_;
            } else if (data_[position_] == '#') {
                while (position_ < size_ && data_[position_] != '\n') ++position_;
            } else {
                break;
            }
        }
    }

    const BYTE* data_;
    UINT size_;
    UINT position_;
};

void StorePixel(BYTE* target, UINT red, UINT green, UINT blue) {
    target[0] = static_cast<BYTE>(blue);
    target[1] = static_cast<BYTE>(green);
    target[2] = static_cast<BYTE>(red);
    target[3] = 0xFF;
}

}  // namespace

HRESULT ReadPpm(SourceImage* image, const BYTE* data, UINT size) {
    if (size < 3 || data[0] != 'P' || (data[1] != '3' && data[1] != '6')) return E_FAIL;
    const bool binary = data[1] == '6';
    PpmScanner scanner(data, size, 2);
    if (!scanner.AtSeparator()) return E_FAIL;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t maximum = 0;
    if (!scanner.ReadNumber(0xFFFFFFFFu, &width) || !scanner.ReadNumber(0xFFFFFFFFu, &height) ||
        !scanner.ReadNumber(255, &maximum)) {
        return E_FAIL;
    }
    if (width == 0 || height == 0 || maximum == 0) return E_FAIL;

    // Samples above the maximum are taken as the maximum.
    auto scale = [maximum](std::uint64_t sample) {
        return static_cast<UINT>((sample < maximum ? sample : maximum) * 255 / maximum);
    };
    // Each pixel takes at least three bytes, so a count beyond the data size cannot be filled (this also
    // keeps the sample count from overflowing).
    const std::uint64_t pixelCount = width * height;
    if (pixelCount > size) return E_FAIL;
    const std::uint64_t samples = pixelCount * 3;
    if (binary) {
        if (scanner.AtByte('\r')) scanner.Advance();
        if (!scanner.AtSpace()) return E_FAIL;
        scanner.Advance();
        if (scanner.Remaining() < samples) return E_FAIL;
    } else if (scanner.Remaining() / 2 < samples) {
        // Every text sample takes at least a separator and a digit.
        return E_FAIL;
    }

    BYTE* block = nullptr;
    HRESULT hr = AllocatePixels(image, width * 4, height, &block);
    if (FAILED(hr)) return hr;
    image->format = D3DFMT_X8R8G8B8;
    image->width = static_cast<UINT>(width);
    image->height = static_cast<UINT>(height);
    image->depth = 1;
    image->rowPitch = static_cast<UINT>(width * 4);
    image->slicePitch = 0;

    if (binary) {
        const BYTE* source = data + scanner.Position();
        for (std::uint64_t i = 0; i < pixelCount; ++i, source += 3) {
            StorePixel(block + i * 4, scale(source[0]), scale(source[1]), scale(source[2]));
        }
        return S_OK;
    }
    for (std::uint64_t i = 0; i < pixelCount; ++i) {
        std::uint64_t rgb[3];
        for (std::uint64_t& sample : rgb) {
            if (!scanner.ReadNumber(0xFFFFFFFFu, &sample)) return E_FAIL;
        }
        StorePixel(block + i * 4, scale(rgb[0]), scale(rgb[1]), scale(rgb[2]));
    }
    return S_OK;
}

}  // namespace qm
