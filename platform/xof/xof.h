// xof.h: the X-file parser as the platform offers it: DirectXFileCreate, the parser, enumerator,
// data-object and data-reference interfaces, load options and the parser's own result codes.
#pragma once

#include "platform/win/unknown.h"

// The parser's result codes, in the Direct3D facility.
constexpr HRESULT DXFILE_OK = S_OK;
constexpr HRESULT DXFILEERR_BADOBJECT = MakeResult(0x88760352u);        // 850
constexpr HRESULT DXFILEERR_BADVALUE = MakeResult(0x88760353u);         // bad argument
constexpr HRESULT DXFILEERR_BADTYPE = MakeResult(0x88760354u);
constexpr HRESULT DXFILEERR_BADSTREAMHANDLE = MakeResult(0x88760355u);
constexpr HRESULT DXFILEERR_BADALLOC = MakeResult(0x88760356u);         // out of memory
constexpr HRESULT DXFILEERR_NOTFOUND = MakeResult(0x88760357u);         // no such member or object
constexpr HRESULT DXFILEERR_NOTDONEYET = MakeResult(0x88760358u);
constexpr HRESULT DXFILEERR_FILENOTFOUND = MakeResult(0x88760359u);
constexpr HRESULT DXFILEERR_RESOURCENOTFOUND = MakeResult(0x8876035Au);
constexpr HRESULT DXFILEERR_URLNOTFOUND = MakeResult(0x8876035Bu);
constexpr HRESULT DXFILEERR_BADRESOURCE = MakeResult(0x8876035Cu);
constexpr HRESULT DXFILEERR_BADFILETYPE = MakeResult(0x8876035Du);      // no "xof " magic or unknown format
constexpr HRESULT DXFILEERR_BADFILEVERSION = MakeResult(0x8876035Eu);   // not 0302 or 0303
constexpr HRESULT DXFILEERR_BADFILEFLOATSIZE = MakeResult(0x8876035Fu); // not 0032 or 0064
constexpr HRESULT DXFILEERR_BADFILECOMPRESSIONTYPE = MakeResult(0x88760360u);
constexpr HRESULT DXFILEERR_BADFILE = MakeResult(0x88760361u);          // damaged compressed data
constexpr HRESULT DXFILEERR_PARSEERROR = MakeResult(0x88760362u);       // syntax, truncation, nesting
constexpr HRESULT DXFILEERR_NOTEMPLATE = MakeResult(0x88760363u);       // data of an unknown template
constexpr HRESULT DXFILEERR_BADARRAYSIZE = MakeResult(0x88760364u);     // array size not usable
constexpr HRESULT DXFILEERR_BADDATAREFERENCE = MakeResult(0x88760365u); // reference to nothing
constexpr HRESULT DXFILEERR_INTERNALERROR = MakeResult(0x88760366u);
constexpr HRESULT DXFILEERR_NOMOREOBJECTS = MakeResult(0x88760367u);    // enumeration or children done
constexpr HRESULT DXFILEERR_BADINTRINSICS = MakeResult(0x88760368u);
constexpr HRESULT DXFILEERR_NOMORESTREAMHANDLES = MakeResult(0x88760369u);
constexpr HRESULT DXFILEERR_NOMOREDATA = MakeResult(0x8876036Au);
constexpr HRESULT DXFILEERR_BADCACHEFILE = MakeResult(0x8876036Bu);
constexpr HRESULT DXFILEERR_NOINTERNET = MakeResult(0x8876036Cu);

// Where CreateEnumObject reads the file from.
using DXFILELOADOPTIONS = DWORD;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMFILE = 0x00;      // source: zero-terminated file name
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMRESOURCE = 0x01;  // refused: there are no module resources here
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMMEMORY = 0x02;    // source: DXFILELOADMEMORY
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMSTREAM = 0x04;    // refused
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMURL = 0x08;       // refused

using DXFILEFORMAT = DWORD;
constexpr DXFILEFORMAT DXFILEFORMAT_BINARY = 0;
constexpr DXFILEFORMAT DXFILEFORMAT_TEXT = 1;
constexpr DXFILEFORMAT DXFILEFORMAT_COMPRESSED = 2;

// A file image in memory. The whole file is read while the enumerator is made, so the caller may
// free the bytes once CreateEnumObject returns.
struct DXFILELOADMEMORY {
    LPVOID lpMemory;
    DWORD dSize;
};

struct DXFILELOADRESOURCE {
    void* hModule;
    LPCSTR lpName;
    LPCSTR lpType;
};

struct IDirectXFileEnumObject;
struct IDirectXFileSaveObject;
struct IDirectXFileData;

inline constexpr IID IID_IDirectXFile = {0x3D82AB40, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileEnumObject = {0x3D82AB41, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileSaveObject = {0x3D82AB42, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileObject = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileData = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileDataReference = {0x3D82AB45, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
inline constexpr IID IID_IDirectXFileBinary = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};

// The parser. Holds the registered templates; every enumerator made from it starts with a copy of
// them, and templates declared inside a file stay with that file's enumerator.
struct IDirectXFile : IUnknown {
    static constexpr IID iid = IID_IDirectXFile;
    // Reads the whole file (options: DXFILELOAD_FROMFILE or DXFILELOAD_FROMMEMORY), its templates,
    // data objects and references, and gives an enumerator over its top-level objects. Syntax and
    // structure errors, unknown templates and references to nothing fail here, with nothing kept.
    virtual HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options, IDirectXFileEnumObject** enumObject) = 0;
    // Writing files is not offered: always E_NOTIMPL.
    virtual HRESULT CreateSaveObject(LPCSTR fileName, DXFILEFORMAT format, IDirectXFileSaveObject** saveObject) = 0;
    // Registers the template definitions of a file image (header plus templates, any encoding).
    // All or nothing: a block that fails to parse registers none of its templates.
    virtual HRESULT RegisterTemplates(LPVOID data, DWORD size) = 0;
};

// What data objects and data references share: a name and an identifier.
struct IDirectXFileObject : IUnknown {
    static constexpr IID iid = IID_IDirectXFileObject;
    // length must be given. With no buffer: *length = name bytes + 1 (0 for an unnamed object).
    // With a buffer: copies the name and its zero when *length is large enough, else
    // DXFILEERR_BADVALUE; either way *length is set to the size needed.
    virtual HRESULT GetName(LPSTR name, DWORD* length) = 0;
    // The object's GUID, all zeros when the file gave none.
    virtual HRESULT GetId(GUID* id) = 0;
};

struct IDirectXFileData : IDirectXFileObject {
    static constexpr IID iid = IID_IDirectXFileData;
    // member null: the whole data; else the named top-level member of the template (an array
    // member gives all its elements). Layout: members in declaration order with no padding; WORD
    // and SWORD 2 bytes, DWORD, SDWORD and FLOAT 4, DOUBLE 8, CHAR, UCHAR and BYTE 1, nested
    // templates inline, and STRING 4 bytes holding an index for GetString. The address stays valid
    // while this object lives. Unknown member: DXFILEERR_NOTFOUND.
    virtual HRESULT GetData(LPCSTR member, DWORD* size, void** data) = 0;
    // Address of the template GUID, valid while this object lives.
    virtual HRESULT GetType(const GUID** type) = 0;
    // The next child in file order: a data object or a data reference (query for
    // IID_IDirectXFileData to tell them apart). DXFILEERR_NOMOREOBJECTS after the last.
    virtual HRESULT GetNextObject(IDirectXFileObject** child) = 0;
    // Building objects belongs to writing files, which is not offered: E_NOTIMPL.
    virtual HRESULT AddDataObject(IDirectXFileData* child) = 0;
    virtual HRESULT AddDataReference(LPCSTR name, const GUID* id) = 0;
    virtual HRESULT AddBinaryObject(LPCSTR name, const GUID* id, LPCSTR mimeType, LPVOID data, DWORD size) = 0;
    // Resolves a STRING member: index is the 4-byte value found in the data. The string lives as
    // long as this object. Out-of-range index: DXFILEERR_BADVALUE.
    virtual HRESULT GetString(DWORD index, LPCSTR* string) = 0;
};

struct IDirectXFileDataReference : IDirectXFileObject {
    static constexpr IID iid = IID_IDirectXFileDataReference;
    // The data object referred to (resolved when the file was read).
    virtual HRESULT Resolve(IDirectXFileData** data) = 0;
};

struct IDirectXFileEnumObject : IUnknown {
    static constexpr IID iid = IID_IDirectXFileEnumObject;
    // The next top-level data object; DXFILEERR_NOMOREOBJECTS after the last.
    virtual HRESULT GetNextDataObject(IDirectXFileData** data) = 0;
    // The first data object of the file (at any depth) with that GUID or name; DXFILEERR_NOTFOUND.
    virtual HRESULT GetDataObjectById(REFGUID id, IDirectXFileData** data) = 0;
    virtual HRESULT GetDataObjectByName(LPCSTR name, IDirectXFileData** data) = 0;
};

// Creates a parser with no templates registered.
HRESULT DirectXFileCreate(IDirectXFile** parser);
