// parse_image_file.cpp: ParseImageFile, trying the seven readers in their fixed order.
#include "library/tex/parse_image_file.h"

#include "library/tex/format_table.h"
#include "library/tex/image_readers.h"
#include "platform/win/results.h"

namespace qm {

namespace {

using Reader = HRESULT (*)(SourceImage*, const BYTE*, UINT);

struct ReaderEntry {
    Reader read;
    ImageFileFormat fileFormat;
};

// Readers with a reliable signature first; TGA and DIB, which have none, last.
constexpr ReaderEntry kReaders[] = {
    {ReadBmp, ImageFileFormat::Bmp}, {ReadPpm, ImageFileFormat::Ppm}, {ReadDds, ImageFileFormat::Dds},
    {ReadJpg, ImageFileFormat::Jpg}, {ReadPng, ImageFileFormat::Png}, {ReadTga, ImageFileFormat::Tga},
    {ReadDib, ImageFileFormat::Dib},
};

void SetWholeBoxes(SourceImage* first) {
    for (SourceImage* face = first; face != nullptr; face = face->nextFace.get()) {
        for (SourceImage* level = face; level != nullptr; level = level->nextMip.get()) {
            level->box = ImageBox{0, 0, level->width, level->height, 0, level->depth};
        }
    }
}

}  // namespace

HRESULT ParseImageFile(SourceImage* image, const void* data, UINT size, ImageInfo* info, bool decode) {
    if (image == nullptr || data == nullptr || size == 0) return D3DERR_INVALIDCALL;
    if (info == nullptr && !decode) return S_OK;
    const BYTE* bytes = static_cast<const BYTE*>(data);

    bool accepted = false;
    for (const ReaderEntry& reader : kReaders) {
        image->Reset();
        image->decode = decode;
        image->fileFormat = reader.fileFormat;
        image->resourceType = D3DRTYPE_TEXTURE;
        if (SUCCEEDED(reader.read(image, bytes, size))) {
            accepted = true;
            break;
        }
    }
    if (!accepted) {
        image->Reset();
        return ERR_INVALID_DATA;
    }

    if (info != nullptr) {
        *info = ImageInfo{};
        info->width = image->width;
        info->height = image->height;
        info->depth = image->depth;
        info->mipLevels = MipChainLength(*image);
        info->format = ReportedFormat(image->format);
        info->resourceType = image->resourceType;
        info->fileFormat = image->fileFormat;
    }
    SetWholeBoxes(image);
    return S_OK;
}

}  // namespace qm
