// Cabinets are written by libgcab into a stream of our own, which puts them in place inside
// the package file and follows their data blocks for the progress bar.
#include <libgcab.h>

#include "cabinet.h"
#include "error.h"

namespace quarvel {
namespace {

// Follows the CFDATA blocks of the written stream: each has an 8-byte header (checksum,
// compressed size, uncompressed size) and its data, the first one at dataOffset. The sizes
// tell how far the compressor has come, whatever the order and size of gcab's writes.
class BlockCounter {
public:
    BlockCounter(uint64_t dataOffset, Progress &progress) : next_(dataOffset), progress_(progress)
    {
    }

    void Observe(uint64_t position, const uint8_t *bytes, size_t count)
    {
        while (count > 0) {
            if (position < next_) {
                uint64_t skip = std::min<uint64_t>(count, next_ - position);
                position += skip;
                bytes += skip;
                count -= skip;
                continue;
            }
            uint64_t index = position - next_;
            if (index >= sizeof header_)
                return;  // not a block header: gcab went back to rewrite its headers
            header_[index] = *bytes;
            if (index == sizeof header_ - 1) {
                uint32_t compressed = header_[4] | header_[5] << 8;
                uint32_t uncompressed = header_[6] | header_[7] << 8;
                progress_.Advance(uncompressed);
                next_ += sizeof header_ + compressed;
            }
            position++;
            bytes++;
            count--;
        }
    }

private:
    uint64_t next_;
    uint8_t header_[8] = {};
    Progress &progress_;
};

struct SinkTarget {
    FileHandle *file;
    uint64_t base;
    uint64_t position;
    uint64_t end;
    BlockCounter *counter;
    std::string failure;
};

// A seekable GOutputStream over SinkTarget: position 0 of the stream is `base` in the file.
struct CabinetSink {
    GOutputStream parent;
    SinkTarget *target;
};

struct CabinetSinkClass {
    GOutputStreamClass parentClass;
};

GType cabinet_sink_get_type();
void cabinet_sink_seekable_init(GSeekableIface *iface);

G_DEFINE_TYPE_WITH_CODE(CabinetSink, cabinet_sink, G_TYPE_OUTPUT_STREAM,
                        G_IMPLEMENT_INTERFACE(G_TYPE_SEEKABLE, cabinet_sink_seekable_init))

SinkTarget *TargetOf(gpointer stream)
{
    return ((CabinetSink *)stream)->target;
}

gssize SinkWrite(GOutputStream *stream, const void *buffer, gsize count, GCancellable *,
                 GError **error)
{
    SinkTarget *target = TargetOf(stream);
    try {
        target->file->WriteAt(target->base + target->position, buffer, count);
    } catch (const Error &failure) {
        target->failure = failure.what();
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, failure.what());
        return -1;
    }
    target->counter->Observe(target->position, (const uint8_t *)buffer, count);
    target->position += count;
    target->end = std::max(target->end, target->position);
    return (gssize)count;
}

goffset SinkTell(GSeekable *stream)
{
    return (goffset)TargetOf(stream)->position;
}

gboolean SinkCanSeek(GSeekable *)
{
    return TRUE;
}

gboolean SinkSeek(GSeekable *stream, goffset offset, GSeekType type, GCancellable *, GError **error)
{
    SinkTarget *target = TargetOf(stream);
    goffset from = type == G_SEEK_SET ? 0 : type == G_SEEK_CUR ? (goffset)target->position
                                                                 : (goffset)target->end;
    if (from + offset < 0) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT, "seek before start");
        return FALSE;
    }
    target->position = (uint64_t)(from + offset);
    return TRUE;
}

gboolean SinkCanTruncate(GSeekable *)
{
    return FALSE;
}

gboolean SinkTruncate(GSeekable *, goffset, GCancellable *, GError **error)
{
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED, "cannot truncate");
    return FALSE;
}

void cabinet_sink_init(CabinetSink *)
{
}

void cabinet_sink_class_init(CabinetSinkClass *sinkClass)
{
    G_OUTPUT_STREAM_CLASS(sinkClass)->write_fn = SinkWrite;
}

void cabinet_sink_seekable_init(GSeekableIface *iface)
{
    iface->tell = SinkTell;
    iface->can_seek = SinkCanSeek;
    iface->seek = SinkSeek;
    iface->can_truncate = SinkCanTruncate;
    iface->truncate_fn = SinkTruncate;
}

// Owns one GObject reference.
template <typename T>
class Ref {
public:
    explicit Ref(T *object) : object_(object) {}
    ~Ref()
    {
        if (object_)
            g_object_unref(object_);
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    T *get() const { return object_; }

private:
    T *object_;
};

class GErrorHolder {
public:
    ~GErrorHolder()
    {
        if (error_)
            g_error_free(error_);
    }
    GError **out() { return &error_; }
    std::string text() const { return error_ ? error_->message : "unknown failure"; }

private:
    GError *error_ = nullptr;
};

// Where the first data block goes: behind the cabinet header (36 bytes), the one folder entry
// (8 bytes) and the file entries (16 bytes and the NUL-terminated name each).
uint64_t FirstBlockOffset(const std::vector<CabinetMember> &members)
{
    uint64_t offset = 36 + 8;
    for (const CabinetMember &member : members)
        offset += 16 + member.storedName.size() + 1;
    return offset;
}

}  // namespace

uint64_t WriteCabinet(const std::vector<CabinetMember> &members, Compression compression,
                      FileHandle &out, uint64_t offset, Progress &progress)
{
    Ref<GCabCabinet> cabinet(gcab_cabinet_new());
    Ref<GCabFolder> folder(gcab_folder_new(compression == Compression::mszip ? GCAB_COMPRESSION_MSZIP
                                                                             : GCAB_COMPRESSION_NONE));
    for (const CabinetMember &member : members) {
        Ref<GFile> file(g_file_new_for_path(member.path.c_str()));
        Ref<GCabFile> cabinetFile(gcab_file_new_with_file(member.storedName.c_str(), file.get()));
        // Set before the file joins the folder, which would otherwise take the file's own time.
        int64_t seconds = FromDosTimestamp(ToDosTimestamp(member.modified));
        GDateTime *date = g_date_time_new_from_unix_utc(seconds);
        gcab_file_set_date_time(cabinetFile.get(), date);
        g_date_time_unref(date);
        GErrorHolder error;
        if (!gcab_folder_add_file(folder.get(), cabinetFile.get(), FALSE, nullptr, error.out()))
            throw Error(member.path + ": " + error.text());
    }
    GErrorHolder error;
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), error.out()))
        throw Error("cannot make the cabinet: " + error.text());

    BlockCounter counter(FirstBlockOffset(members), progress);
    SinkTarget target{&out, offset, 0, 0, &counter, ""};
    Ref<CabinetSink> sink((CabinetSink *)g_object_new(cabinet_sink_get_type(), nullptr));
    sink.get()->target = &target;
    if (!gcab_cabinet_write_simple(cabinet.get(), G_OUTPUT_STREAM(sink.get()), nullptr, nullptr,
                                   nullptr, error.out()))
        throw Error(target.failure.empty() ? "cannot write the cabinet: " + error.text()
                                           : target.failure);
    return target.end;
}

}  // namespace quarvel
