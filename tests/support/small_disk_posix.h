// A small disk for the disk-full cases (native build only): a tmpfs of a given size mounted over an
// existing empty folder for as long as the object lives, and a filler file that takes the free
// space down to what a case leaves. Mounting needs root (CI runs as root); without it the object
// says why, and the case skips.
#pragma once
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace orv::test {

class SmallDisk {
public:
    SmallDisk(const std::string& folder, size_t bytes) : folder_(folder) {
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            why_ = "cannot mount a tmpfs on " + folder + " (" + std::strerror(errno) +
                   "; the disk-full cases need root)";
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return why_; }

    size_t FreeBytes() const {
        struct statvfs st {};
        if (::statvfs(folder_.c_str(), &st) != 0) return 0;
        return static_cast<size_t>(st.f_bavail) * st.f_frsize;
    }
    // Writes a filler file until at most `leave` bytes are free (the disk is full for `leave` 0).
    void Fill(size_t leave) {
        std::FILE* file = std::fopen((folder_ + "/filler").c_str(), "ab");
        if (!file) return;
        std::vector<char> block(4096, 'f');
        while (FreeBytes() > leave) {
            const size_t chunk = std::min(block.size(), FreeBytes() - leave);
            if (std::fwrite(block.data(), 1, chunk, file) != chunk || std::fflush(file) != 0) break;
        }
        std::fclose(file);
    }
    // Gives the space back.
    void Empty() { std::remove((folder_ + "/filler").c_str()); }

private:
    std::string folder_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace orv::test
#endif
