// Files and folders.
//
// File owns one open stream (closed in its destructor). open_file() takes
// the C modes "r", "rb", "w", "wb", "w+b", "a"; files opened for writing are
// created with mode 0644 and never through a symbolic link (O_NOFOLLOW), so
// a link planted in a shared folder cannot redirect a write.
// page_directory() is the folder that stands for "the root folder of the
// current drive": $TAV_PAGE_DIR, else a private folder made with mkdtemp
// under $TMPDIR (else /tmp) on first use and removed at process exit when
// empty. Safe for concurrent use.
#ifndef TAV_PLATFORM_FILES_H_
#define TAV_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdio>
#include <string>

class File {
 public:
  File() = default;
  explicit File(FILE* f) : f_(f) {}
  File(File&& other) noexcept : f_(other.f_) { other.f_ = nullptr; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool is_open() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  // Returns bytes read (0 at the end or on error).
  size_t read(void* data, size_t size);
  // Returns true when all bytes were written.
  bool write(const void* data, size_t size);
  bool write(const std::string& text) {
    return write(text.data(), text.size());
  }
  // Closes the stream; false when the final write-out failed.
  bool close();

 private:
  FILE* f_ = nullptr;
};

File open_file(const std::string& path, const char* mode);
// Removes a file; true when it is gone afterwards.
bool remove_file(const std::string& path);
bool file_exists(const std::string& path);
// Reads a whole file into out; false when it cannot be read.
bool read_whole_file(const std::string& path, std::string* out);
// The current working directory, or false.
bool get_current_directory(char* out, size_t size);
// The folder of the running executable (for files installed beside it).
std::string executable_directory();
// See above. Always ends without a separator.
const std::string& page_directory();
// Removes the private page folder now when one was made and is empty; for a
// process that ends without running its exit handlers.
void remove_private_page_directory();

#endif  // TAV_PLATFORM_FILES_H_
