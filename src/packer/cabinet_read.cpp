// Cabinets are read by libmspack through an I/O layer of our own: the library asks for files
// by name, and the names it is given are tokens for the cabinet's bytes inside a package
// (unscrambled on the way) and for the file being extracted.
#include <mspack.h>
#include <stdlib.h>
#include <string.h>

#include "cabinet.h"
#include "error.h"

namespace quarvel {

namespace {

const char cabinetToken[] = "cabinet";
const char outputToken[] = "output";

// libmspack passes back the mspack_system it was given; this one knows its reader.
struct SystemOfReader {
    mspack_system system;
    CabinetReader::Internals *owner;
};

}  // namespace

struct CabinetReader::Internals {
    SystemOfReader io;
    const ByteSource *source;
    uint64_t offset;
    uint64_t length;
    uint8_t key;
    mscab_decompressor *decompressor = nullptr;
    mscabd_cabinet *cabinet = nullptr;
    std::vector<mscabd_file *> files;
    FileHandle *output = nullptr;  // null: decompressed bytes are only counted
    Progress *progress = nullptr;
    std::string outputFailure;

    static Internals *Of(mspack_system *system) { return ((SystemOfReader *)system)->owner; }
};

namespace {

// What libmspack holds as a file: a view of the cabinet, or the extraction's output.
struct FileRecord {
    bool isCabinet;
    uint64_t position;
    CabinetReader::Internals *owner;
};

mspack_file *Open(mspack_system *system, const char *name, int mode)
{
    auto *owner = CabinetReader::Internals::Of(system);
    bool isCabinet = strcmp(name, cabinetToken) == 0 && mode == MSPACK_SYS_OPEN_READ;
    bool isOutput = strcmp(name, outputToken) == 0 && mode == MSPACK_SYS_OPEN_WRITE;
    if (!isCabinet && !isOutput)
        return nullptr;
    return (mspack_file *)new FileRecord{isCabinet, 0, owner};
}

void Close(mspack_file *file)
{
    delete (FileRecord *)file;
}

int Read(mspack_file *file, void *buffer, int bytes)
{
    auto *record = (FileRecord *)file;
    auto *owner = record->owner;
    if (!record->isCabinet || bytes < 0)
        return -1;
    uint64_t left = owner->length - std::min(owner->length, record->position);
    size_t count = (size_t)std::min<uint64_t>((uint64_t)bytes, left);
    try {
        count = owner->source->ReadAt(owner->offset + record->position, buffer, count);
    } catch (const Error &) {
        return -1;
    }
    if (owner->key != 0)
        for (size_t i = 0; i < count; i++)
            ((uint8_t *)buffer)[i] ^= owner->key;
    record->position += count;
    return (int)count;
}

int Write(mspack_file *file, void *buffer, int bytes)
{
    auto *record = (FileRecord *)file;
    auto *owner = record->owner;
    if (record->isCabinet || bytes < 0)
        return -1;
    if (owner->output) {
        try {
            owner->output->WriteAt(record->position, buffer, (size_t)bytes);
        } catch (const Error &failure) {
            owner->outputFailure = failure.what();
            return -1;
        }
    }
    record->position += (uint64_t)bytes;
    owner->progress->Advance((uint64_t)bytes);
    return bytes;
}

int Seek(mspack_file *file, off_t offset, int mode)
{
    auto *record = (FileRecord *)file;
    int64_t size = (int64_t)record->owner->length;
    int64_t from = mode == MSPACK_SYS_SEEK_START ? 0
                 : mode == MSPACK_SYS_SEEK_CUR   ? (int64_t)record->position
                                                 : size;
    int64_t target = from + (int64_t)offset;
    if (!record->isCabinet || target < 0 || target > size)
        return -1;
    record->position = (uint64_t)target;
    return 0;
}

off_t Tell(mspack_file *file)
{
    return (off_t)((FileRecord *)file)->position;
}

void Message(mspack_file *, const char *, ...)
{
    // Warnings about odd cabinets: the checks of the tool report what matters.
}

void *Alloc(mspack_system *, size_t bytes)
{
    return malloc(bytes);
}

void Free(void *block)
{
    free(block);
}

void Copy(void *from, void *to, size_t bytes)
{
    memmove(to, from, bytes);
}

std::string MspackErrorText(int code)
{
    switch (code) {
    case MSPACK_ERR_OPEN: return "the cabinet cannot be opened";
    case MSPACK_ERR_READ: return "the cabinet ends before its data does";
    case MSPACK_ERR_WRITE: return "a write failed";
    case MSPACK_ERR_SEEK: return "the cabinet points outside itself";
    case MSPACK_ERR_NOMEMORY: return "not enough memory";
    case MSPACK_ERR_SIGNATURE: return "no cabinet signature (MSCF)";
    case MSPACK_ERR_DATAFORMAT: return "a damaged cabinet: its headers are not a cabinet's";
    case MSPACK_ERR_CHECKSUM: return "a damaged cabinet: a data block fails its checksum";
    case MSPACK_ERR_DECRUNCH: return "a damaged cabinet: its compressed data does not decompress";
    default: return "an unreadable cabinet (libmspack error " + std::to_string(code) + ")";
    }
}

std::string CompressionName(int compressionType)
{
    switch (compressionType & 0x0F) {
    case MSCAB_COMP_NONE: return "none";
    case MSCAB_COMP_MSZIP: return "MSZIP";
    case MSCAB_COMP_QUANTUM: return "Quantum";
    case MSCAB_COMP_LZX: return "LZX";
    default: return "unknown";
    }
}

}  // namespace

CabinetReader::CabinetReader(const ByteSource &source, uint64_t offset, uint64_t length, uint8_t key)
    : internals_(new Internals{})
{
    Internals &in = *internals_;
    in.io.system = {Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr};
    in.io.owner = internals_;
    in.source = &source;
    in.offset = offset;
    in.length = length;
    in.key = key;
    int selfTest = 0;
    MSPACK_SYS_SELFTEST(selfTest);
    in.decompressor = selfTest == MSPACK_ERR_OK ? mspack_create_cab_decompressor(&in.io.system) : nullptr;
    if (!in.decompressor) {
        delete internals_;
        throw Error("libmspack cannot start");
    }
    in.cabinet = in.decompressor->open(in.decompressor, cabinetToken);
    if (!in.cabinet) {
        int code = in.decompressor->last_error(in.decompressor);
        mspack_destroy_cab_decompressor(in.decompressor);
        delete internals_;
        throw Error(MspackErrorText(code));
    }
    declaredLength_ = in.cabinet->length;
    partOfSet_ = (in.cabinet->flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB)) != 0;
    for (mscabd_file *file = in.cabinet->files; file; file = file->next) {
        CabinetEntry entry;
        entry.name = file->filename;
        entry.size = file->length;
        entry.timestamp.date = DosDate(file->date_y, file->date_m, file->date_d);
        entry.timestamp.time = DosTime(file->time_h, file->time_m, file->time_s);
        entry.attributes = (uint16_t)file->attribs;
        entry.compression = CompressionName(file->folder->comp_type);
        entries_.push_back(entry);
        in.files.push_back(file);
    }
}

CabinetReader::~CabinetReader()
{
    internals_->decompressor->close(internals_->decompressor, internals_->cabinet);
    mspack_destroy_cab_decompressor(internals_->decompressor);
    delete internals_;
}

void CabinetReader::Decompress(size_t index, FileHandle *out, Progress &progress)
{
    Internals &in = *internals_;
    in.output = out;
    in.progress = &progress;
    in.outputFailure.clear();
    int code = in.decompressor->extract(in.decompressor, in.files.at(index), outputToken);
    if (code != MSPACK_ERR_OK) {
        if (!in.outputFailure.empty())
            throw Error(in.outputFailure);
        throw Error(Quoted(DisplayName(entries_[index])) + ": " + MspackErrorText(code));
    }
}

void CabinetReader::Extract(size_t index, FileHandle &out, Progress &progress)
{
    Decompress(index, &out, progress);
}

void CabinetReader::Verify(Progress &progress)
{
    for (size_t i = 0; i < entries_.size(); i++)
        Decompress(i, nullptr, progress);
}

}  // namespace quarvel
