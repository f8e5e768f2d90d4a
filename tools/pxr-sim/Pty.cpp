#include "Pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace pxrsim {

Pty::~Pty() {
    close();
}

static std::string errorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string Pty::open(const std::string& link) {
    close();
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return errorText("posix_openpt");
    if (grantpt(m) != 0 || unlockpt(m) != 0) {
        std::string e = errorText("grantpt/unlockpt");
        ::close(m);
        return e;
    }
    const char* name = ptsname(m);
    if (!name) {
        std::string e = errorText("ptsname");
        ::close(m);
        return e;
    }
    slaveName_ = name;
    // Holding the slave open ourselves keeps the master from reporting a hang-up
    // (and spinning poll) while no PC program has the port open.
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (s < 0) {
        std::string e = errorText("open slave");
        ::close(m);
        return e;
    }
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(s, TCSANOW, &tio);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);

    // Replace the link atomically; never replace something that is not a link.
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        ::close(s);
        ::close(m);
        return "refusing to replace " + link + ": it exists and is not a symbolic link";
    }
    std::string tmp = link + ".tmp" + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
        std::string e = errorText(("link " + link).c_str());
        ::unlink(tmp.c_str());
        ::close(s);
        ::close(m);
        return e;
    }
    master_ = m;
    heldSlave_ = s;
    link_ = link;
    return {};
}

void Pty::close() {
    if (!link_.empty()) {
        // Only remove the link if it still points at our terminal.
        char target[4096];
        ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n >= 0) {
            target[n] = '\0';
            if (slaveName_ == target) ::unlink(link_.c_str());
        }
        link_.clear();
    }
    if (heldSlave_ >= 0) ::close(heldSlave_);
    if (master_ >= 0) ::close(master_);
    heldSlave_ = master_ = -1;
}

} // namespace pxrsim
