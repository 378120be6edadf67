// Streams: TStream (the interface), TMemoryStream, TStringStream and TFileStream.
//
// Read and Write move up to `count` bytes and answer how many moved; ReadBuffer and WriteBuffer
// move exactly `count` bytes or raise EReadError "Stream read error" / EWriteError "Stream write
// error". Positions and sizes are 64-bit.
#pragma once

#include <cstdint>
#include <string>

namespace rtl {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
  public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Answers the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t size) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }

    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies `count` bytes from the current position of `source`; 0 copies all of `source`
    // from its beginning. Answers the number copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
  public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;

    char* Memory() { return data_.data(); }
    const std::string& Data() const { return data_; }
    void Clear();
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream);
    // The file name is resolved as a path; errors name the file as given.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

  protected:
    std::string data_;
    int64_t position_ = 0;
};

// A memory stream over a string (a blob's bytes, a text).
class TStringStream : public TMemoryStream {
  public:
    explicit TStringStream(std::string data = "") { data_ = std::move(data); }
    const std::string& DataString() const { return data_; }
};

// Open modes: one access mode, optionally or-ed with one share mode. fmCreate creates the file
// or empties an existing one, and opens it for reading and writing.
enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
    // With fmCreate: an existing file keeps its content at open, for a writer that writes the
    // whole file from the start and then sets its size. The file ends as an emptied one would,
    // but the old blocks are written over in place: emptying a file that was just written makes
    // the file system flush it at close, and the next rewrite waits for that flush.
    fmOverwrite = 0x10000,
};

// A file opened through the path module. Sharing holds across processes through advisory file
// locks: an exclusive open excludes every other open of the file; the other share modes let
// each other in (deny-write and deny-read are kept only against exclusive opens).
// Failures raise EFCreateError 'Cannot create file "%s". %s' or EFOpenError
// 'Cannot open file "%s". %s' with the name as given and the system's reason.
class TFileStream : public TStream {
  public:
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // The file's length as the system tells it (one call, the position stays).
    int64_t Size() override;
    // A file that already has the length is left as it is.
    void SetSize(int64_t size) override;

    const std::string& FileName() const { return fileName_; }
    int Handle() const { return fd_; }

  private:
    std::string fileName_;
    int fd_ = -1;
};

}  // namespace rtl
