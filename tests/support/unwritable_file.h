// Makes a file one this process may not write, for as long as the object lives: by its mode
// for an ordinary user, by the immutable attribute for root (whom modes do not stop). Possible()
// is false where neither works (a file system without the attribute); tests then skip.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace cvtest {

class UnwritableFile {
public:
    explicit UnwritableFile(std::string path) : path_(std::move(path)) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return;
        mode_ = st.st_mode & 07777;
        if (::geteuid() != 0) {
            done_ = ::chmod(path_.c_str(), 0444) == 0;
            return;
        }
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = done_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
    }
    ~UnwritableFile() {
        if (!done_) return;
        if (immutable_) {
            const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) ::close(fd);
        } else {
            ::chmod(path_.c_str(), mode_);
        }
    }
    UnwritableFile(const UnwritableFile&) = delete;
    UnwritableFile& operator=(const UnwritableFile&) = delete;

    bool Possible() const { return done_; }

private:
    std::string path_;
    mode_t mode_ = 0644;
    bool done_ = false;
    bool immutable_ = false;
};

}  // namespace cvtest
