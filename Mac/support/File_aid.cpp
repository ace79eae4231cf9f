#include "support/File_aid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>

#include "support/Logging.h"

namespace File_aid {

namespace {

// A FIFO or a device in a file's place would block the opening or never end.
void LogNotRegular(const std::string& name) { Logf(SEV_ERROR, "'%s' is not a regular file; skipped", name.c_str()); }

}  // namespace

template <class T>
bool File<T>::Open(int32_t mode) {
  Close();
  // Without blocking, which a FIFO's open would do until the other end comes; O_NONBLOCK has
  // no effect on the regular file that is taken.
  const bool reading = mode == kRead;
  FdHolder fd(reading ? open(_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                      : open(_name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.get() < 0) return false;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return false;
  if (reading && !S_ISREG(st.st_mode)) {
    LogNotRegular(_name);
    return false;
  }
  // A FIFO written to would fill and then refuse or hold the writes; the caller reports the
  // failure (logging here could enter the log's own opening again).
  if (!reading && S_ISFIFO(st.st_mode)) return false;
  _stream = fdopen(fd.get(), reading ? "rb" : "ab");
  if (_stream) fd.release();
  return _stream != nullptr;
}

template <class T>
bool File<T>::Close() {
  if (!_stream) return true;
  const bool failed = ferror(_stream) != 0;
  const bool closed = fclose(_stream) == 0;
  _stream = nullptr;
  return closed && !failed;
}

template <class T>
int64_t File<T>::GetSize() {
  if (!_stream) return -1;
  const off_t here = ftello(_stream);
  if (here < 0 || fseeko(_stream, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(_stream);
  fseeko(_stream, here, SEEK_SET);
  return size;
}

template <class T>
int64_t File<T>::Read() {
  if (!_stream) return 0;
  const int64_t size = GetSize();
  int64_t total = -1;
  if (size >= 0 && size <= kMaxReadSize && _contents.Alloc(static_cast<uint32_t>(size) + 1)) {
    total = 0;
    // The file may have grown since it was measured: read to its end.
    for (;;) {
      if (static_cast<uint64_t>(total) + 1 >= _contents.size()) {
        if (total >= kMaxReadSize || !_contents.Alloc(_contents.size() + 4096)) {
          total = -1;
          break;
        }
      }
      const size_t room = _contents.size() - 1 - static_cast<size_t>(total);
      const size_t n = fread(_contents.data() + total, 1, room, _stream);
      total += static_cast<int64_t>(n);
      if (n < room) {
        if (ferror(_stream)) total = -1;
        break;
      }
    }
    if (total >= 0) _contents.data()[total] = 0;
  }
  Close();
  return total;
}

template class File<char>;
template class File<unsigned char>;

int AnsiTextFile::Printf(const char* format, ...) {
  char text[4095] = "";
  va_list args;
  va_start(args, format);
  int length = format ? vsnprintf(text, sizeof text, format, args) : 0;
  va_end(args);
  if (length < 0) length = 0;
  if (length > static_cast<int>(sizeof text) - 1) length = sizeof text - 1;
  if (_stream && length > 0) fwrite(text, 1, static_cast<size_t>(length), _stream);
  return length;
}

XCFString FindFileInPathList(const char* name, const char* const* folders, int32_t count, int32_t* index) {
  if (index) *index = -1;
  XCFString found("");
  if (!name || !*name) return found;
  for (int32_t i = 0; i < count; ++i) {
    const std::string path = std::string(folders[i] ? folders[i] : "") + name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      LogNotRegular(path);
      continue;
    }
    if (index) *index = i;
    return found.Create(folders[i] ? folders[i] : "");
  }
  return found;
}

XCFString ReadTextFile(const char* path, int32_t* error) {
  XCFString text("");
  if (!path || !*path) return text;
  File<char> file(path, kRead);
  const int64_t n = file.IsOpen() ? file.Read() : -1;
  if (n < 0) {
    if (error) *error = -2;
    return text;
  }
  return text.Create(file.Contents().data(), file.Contents().data() + n);
}

bool WriteTextFile(const char* path, const char* text, int32_t* error) {
  if (!path || !*path) return false;
  File<char> file(path, kAppend);
  if (!file.IsOpen()) {
    if (error) *error = -2;
    return false;
  }
  if (text) fputs(text, file.Stream());
  if (!file.Close()) {
    if (error) *error = -2;
    return false;
  }
  return true;
}

}  // namespace File_aid
