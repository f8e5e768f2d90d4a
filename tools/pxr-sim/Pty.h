#pragma once
// The analyzer's end of a pseudo-terminal, with a stable symbolic link to
// the side the PC opens.

#include <string>

namespace pxrsim {

class Pty {
public:
    ~Pty();
    // Creates the terminal in raw mode at 115200 baud and points `link` at
    // it, replacing a stale link. Returns an error text, empty on success.
    std::string open(const std::string& link);
    // Closes the terminal and removes the link: the analyzer is unplugged.
    void close();
    bool isOpen() const { return master_ >= 0; }
    int fd() const { return master_; }
    const std::string& slaveName() const { return slaveName_; }

private:
    int master_ = -1;
    int heldSlave_ = -1; // keeps the line up while no PC has the port open
    std::string link_, slaveName_;
};

} // namespace pxrsim
